#include "test_database.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <system_error>

#include "db/odbc/odbc_connection.h"

namespace pv::db::odbc::testing {

TempFolder::TempFolder() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("pv_odbc_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + "_" +
           std::to_string(stamp));
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ConnectionParams SqliteParams(const std::filesystem::path& file) {
  ConnectionParams p;
  p.database = file.string();
  return p;
}

std::unique_ptr<Connection> OpenSqlite(const std::filesystem::path& file) {
  auto c = MakeOdbcConnection(kSqliteDriver);
  c->Open(SqliteParams(file));
  return c;
}

}  // namespace pv::db::odbc::testing
