// CreateConnection: the engine named by the setting "sqlDriver".
#include <cstddef>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "db/embedded/embedded_engine.h"
#include "db/odbc/odbc_connection.h"
#include "platform/odbc_driver.h"

namespace pv::db {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsEmbedded(std::string_view driver) {
  constexpr std::string_view kEmbedded = "embedded";
  if (driver.size() != kEmbedded.size()) return false;
  for (std::size_t i = 0; i < driver.size(); ++i) {
    char c = driver[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kEmbedded[i]) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<Connection> CreateConnection(const EngineOptions& options) {
  const std::string_view driver = Trim(options.driver);
  if (IsEmbedded(driver)) return embedded::MakeEmbeddedConnection(options.embeddedRoot);
  // An empty setting means the default driver.
  return MakeOdbcConnection(driver.empty() ? std::string(platform::kDefaultOdbcDriver)
                                           : std::string(driver));
}

}  // namespace pv::db
