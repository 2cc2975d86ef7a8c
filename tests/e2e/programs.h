// Where the programs under test were built (set by the build system).
#pragma once

#include <filesystem>

namespace pv::e2e {

std::filesystem::path PvcentralProgram();
std::filesystem::path PvremoteProgram();

}  // namespace pv::e2e
