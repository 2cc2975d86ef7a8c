// Where pvsql finds the embedded engine's instances by default.
#pragma once

#include <filesystem>
#include <string>

namespace pv::pvsql {

// The data root the service itself uses: its local application-data folder
// + "sql". With PVREMOTE_ROOT set that is <root>/var/lib/pvremote/sql, with
// STATE_DIRECTORY set <state>/sql. Otherwise, when the installed service's
// <serviceFolder>/sql exists (or exists but may not be looked into), that
// one, so that an operator's pvsql reaches the databases of the service
// systemd runs; else the caller's own application-data folder + "sql".
std::filesystem::path DefaultDataRoot(const std::filesystem::path& serviceFolder);

// The sentence added to a failure to reach an instance that does not exist:
// where it was looked for and how to make it.
std::string MissingInstanceHint(const std::filesystem::path& root, const std::string& server,
                                const std::string& port);

}  // namespace pv::pvsql
