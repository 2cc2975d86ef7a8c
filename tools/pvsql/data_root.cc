#include "tools/pvsql/data_root.h"

#include <cstdlib>
#include <string>

namespace pv::pvsql {
namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v == nullptr ? std::string() : std::string(v);
}

}  // namespace

// Mirrors the service's own rule for its local application-data folder.
std::filesystem::path DefaultDataRoot() {
  if (std::string root = Env("PVREMOTE_ROOT"); !root.empty()) {
    return std::filesystem::path(root) / "var/lib/pvremote/sql";
  }
  std::string state = Env("STATE_DIRECTORY");
  state = state.substr(0, state.find(':'));
  if (!state.empty()) return std::filesystem::path(state) / "sql";
  std::string data = Env("XDG_DATA_HOME");
  if (data.empty()) {
    const std::string home = Env("HOME");
    if (home.empty()) return std::filesystem::path("sql");
    data = home + "/.local/share";
  }
  return std::filesystem::path(data) / "pvremote/sql";
}

}  // namespace pv::pvsql
