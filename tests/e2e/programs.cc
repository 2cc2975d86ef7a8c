#include "tests/e2e/programs.h"

namespace pv::e2e {

std::filesystem::path PvcentralProgram() { return PV_PVCENTRAL_BIN; }
std::filesystem::path PvremoteProgram() { return PV_PVREMOTE_BIN; }

}  // namespace pv::e2e
