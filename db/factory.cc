// CreateConnection: the engine named by the setting "sqlDriver".
#include <string>
#include <string_view>

#include "common/text.h"
#include "db/connection.h"
#include "db/embedded/embedded_engine.h"
#include "db/odbc/odbc_connection.h"
#include "platform/odbc_driver.h"

namespace pv::db {

namespace {

// Spaces and tabs around the setting; a line break stays part of the name, so
// such a setting fails as an unknown driver instead of choosing an engine.
std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::unique_ptr<Connection> CreateConnection(const EngineOptions& options) {
  const std::string_view driver = Trim(options.driver);
  if (common::EqualsNoCase(driver, "embedded"))
    return embedded::MakeEmbeddedConnection(options.embeddedRoot);
  // An empty setting means the default driver.
  return MakeOdbcConnection(
      driver.empty() ? std::string(platform::kDefaultOdbcDriver) : std::string(driver),
      options.loginTimeoutSeconds, options.commandTimeoutSeconds);
}

}  // namespace pv::db
