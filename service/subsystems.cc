#include "service/subsystems.h"

namespace pv::service {

void AttachSubsystems(ServiceHost& host) {
  // No subsystem is attached yet: "DATR", "UPDA" and the update-queue tick
  // are ignored while their hooks are unset.
  (void)host;
}

}  // namespace pv::service
