// Connections to a database file through the SQLite3 ODBC driver, and the
// failure checks the ODBC tests share.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>

#include "db/connection.h"

namespace pv::db::odbc::testing {

inline constexpr const char* kSqliteDriver = "SQLite3";

// Connection fields naming the database file `file` (the SQLite3 driver
// ignores server, port and login).
ConnectionParams SqliteParams(const std::filesystem::path& file);

// An open connection to `file` through the SQLite3 ODBC driver.
std::unique_ptr<Connection> OpenSqlite(const std::filesystem::path& file);

// The failure `run` raises, with its number and a text holding every one of `parts`.
template <typename F>
void ExpectFailure(F run, long number, std::initializer_list<std::string> parts = {}) {
  try {
    run();
    ADD_FAILURE() << "no failure; expected " << number;
  } catch (const DbError& e) {
    EXPECT_EQ(e.number(), number) << e.description();
    for (const std::string& part : parts) {
      EXPECT_NE(e.description().find(part), std::string::npos) << e.description();
    }
  }
}

}  // namespace pv::db::odbc::testing
