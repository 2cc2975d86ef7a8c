// The one place where the synchronisation subsystems attach to the service
// host: they set its hooks (full upload on "DATR", central changes on "UPDA",
// the update-queue tick). Called once, right after the host is made and
// before the service starts.
#pragma once

#include "service/service_host.h"

namespace pv::service {

void AttachSubsystems(ServiceHost& host);

}  // namespace pv::service
