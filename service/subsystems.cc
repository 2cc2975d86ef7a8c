#include "service/subsystems.h"

#include "sync/central_changes_hook.h"
#include "sync/full_upload_hook.h"
#include "sync/update_queue_hook.h"

namespace pv::service {

void AttachSubsystems(ServiceHost& host) {
  sync::AttachFullUpload(host);
  sync::AttachUpdateQueue(host);
  sync::AttachCentralChanges(host);
}

}  // namespace pv::service
