// Windows has no sd_notify: the service control manager is told the service's
// state through the dispatcher (service_dispatcher.h), and whether the manager
// started the process is known only once the dispatcher has connected.
#include "platform/service/notify.h"

namespace pv::platform {

bool StartedByServiceManager() { return false; }

bool NotifyServiceManager(const std::string&) { return false; }

}  // namespace pv::platform
