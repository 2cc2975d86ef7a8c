// Where pvsql finds the embedded engine's instances by default.
#pragma once

#include <filesystem>

namespace pv::pvsql {

// The local application-data folder + "sql": the same place PVRemote and
// pvcentral use, so all three see the same instances. With PVREMOTE_ROOT set
// it is <root>/var/lib/pvremote/sql.
std::filesystem::path DefaultDataRoot();

}  // namespace pv::pvsql
