// Where the programs under test were built (set by the build system).
#pragma once

#include <filesystem>

namespace pv::e2e {

std::filesystem::path PvcentralProgram();
// Empty when this tree has no pvremote target yet.
std::filesystem::path PvremoteProgram();

}  // namespace pv::e2e
