// A temporary folder for one test, removed afterwards, and connections to a
// database file in it through the SQLite3 ODBC driver.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "db/connection.h"

namespace pv::db::odbc::testing {

inline constexpr const char* kSqliteDriver = "SQLite3";

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Connection fields naming the database file `file` (the SQLite3 driver
// ignores server, port and login).
ConnectionParams SqliteParams(const std::filesystem::path& file);

// An open connection to `file` through the SQLite3 ODBC driver.
std::unique_ptr<Connection> OpenSqlite(const std::filesystem::path& file);

}  // namespace pv::db::odbc::testing
