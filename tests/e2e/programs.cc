#include "tests/e2e/programs.h"

#ifndef PV_PVCENTRAL_BIN
#error "PV_PVCENTRAL_BIN must name the built pvcentral"
#endif
#ifndef PV_PVREMOTE_BIN
#define PV_PVREMOTE_BIN ""
#endif

namespace pv::e2e {

std::filesystem::path PvcentralProgram() { return PV_PVCENTRAL_BIN; }
std::filesystem::path PvremoteProgram() { return PV_PVREMOTE_BIN; }

}  // namespace pv::e2e
