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
  // ODBC time-outs in seconds, 0 = none: the login ("sqlLoginTimeout") and
  // each statement ("sqlCommandTimeout"). A value that is not a whole number
  // from 0 to 65535 keeps the default.
  int sqlLoginTimeout = 15;
  int sqlCommandTimeout = 30;
  // Rows of a table the full upload sends in one central transaction
  // ("uploadBatchRows"); 0 or 1 commits every statement alone. A value that
  // is not a whole number from 0 to 65535 keeps the default.
  int uploadBatchRows = 500;
  // Days the daily log files are kept ("logKeepDays"); 0 keeps them all. A
  // value that is not a whole number from 0 to 65535 keeps the default.
  int logKeepDays = 0;

  // True when "sqlDriver" selects the embedded engine.
  bool embedded() const;

  static ServiceSettings Read(const RegistryStore& store);
};

}  // namespace pv::settings
