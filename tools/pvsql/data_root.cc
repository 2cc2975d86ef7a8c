#include "tools/pvsql/data_root.h"

#include <cstdlib>
#include <system_error>

#include "db/embedded/embedded_engine.h"
#include "platform/paths.h"
#include "platform/utf8_paths.h"

namespace pv::pvsql {
namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

std::filesystem::path DefaultDataRoot(const std::filesystem::path& serviceFolder) {
  const platform::Paths paths = platform::Paths::FromEnvironment();
  if (paths.root().empty() && !IsSet("STATE_DIRECTORY") && !serviceFolder.empty()) {
    const std::filesystem::path service = serviceFolder / "sql";
    std::error_code ec;
    const bool exists = std::filesystem::is_directory(service, ec);
    // A folder of the service's user alone cannot be looked into: it is still
    // the one meant, and opening it will say that access is denied.
    if (exists || ec == std::errc::permission_denied) return service;
  }
  // As the service chooses: the application-data folder, else the program's.
  std::string base = paths.LocalAppDataFolder();
  if (base.empty()) base = platform::ProgramFolder();
  return platform::PathFromUtf8(base) / "sql";
}

std::string MissingInstanceHint(const std::filesystem::path& root, const std::string& server,
                                const std::string& port) {
  try {
    if (db::embedded::InstanceExists(root, server, port)) return {};
    return "No instance " + server + "," + port + " in " +
           platform::Utf8FromPath(db::embedded::InstanceFolder(root, server, port)) +
           " (--create-instance makes it; --root or PVREMOTE_ROOT names another data root).\n";
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace pv::pvsql
