#include "tools/pvsql/data_root.h"

#include "platform/paths.h"
#include "platform/utf8_paths.h"

namespace pv::pvsql {

std::filesystem::path DefaultDataRoot() {
  const std::string appData = platform::Paths::FromEnvironment().LocalAppDataFolder();
  // Without any application-data folder the instances live beside the caller.
  if (appData.empty()) return std::filesystem::path("sql");
  return platform::PathFromUtf8(appData) / "sql";
}

}  // namespace pv::pvsql
