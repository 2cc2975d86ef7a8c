#include "common/version.h"

#include "pv_version.h"

namespace pv::common {

std::string VersionText() {
  const std::string commit = PV_GIT_COMMIT;
  return commit.empty() ? std::string(PV_VERSION)
                        : std::string(PV_VERSION) + " (git " + commit + ")";
}

std::string VersionLine(const std::string& program) { return program + " " + VersionText(); }

}  // namespace pv::common
