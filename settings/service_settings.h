// Every setting the service reads, with its default, from the machine store.
#pragma once

#include <optional>
#include <string>

#include "platform/odbc_driver.h"
#include "settings/registry_store.h"

namespace pv::settings {

struct ServiceSettings {
  std::string sqlUID = "sa";  // local SQL Server login
  // Local SQL Server password: decoded "sqlPWDq" when it is set, else
  // "sqlPWD", both trimmed of blanks. Nothing when "sqlPWDq" does not decode.
  std::optional<std::string> sqlPassword = std::string();
  std::string sqlPWDq;           // the encoded value as stored (trimmed)
  std::string sqlPort = "1433";  // local SQL Server port
  std::string appFolder;         // as last written by the folder preparation
  std::string centralHost = "localhost";
  std::string centralPort = "8080";
  // ODBC driver name, or "embedded".
  std::string sqlDriver = platform::kDefaultOdbcDriver;
  // Days the daily log files are kept; 0 (also for a value that is not a
  // whole number of days) keeps them all.
  int logKeepDays = 0;

  // True when "sqlDriver" selects the embedded engine.
  bool embedded() const;

  static ServiceSettings Read(const RegistryStore& store);
};

}  // namespace pv::settings
