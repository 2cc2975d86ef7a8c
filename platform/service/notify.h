// Talking to the service manager: was this process started by it, and telling
// it that the service is ready or stopping (the sd_notify datagram protocol).
#pragma once

#include <string>

namespace pv::platform {

// True when systemd started this process as a service: it sets INVOCATION_ID
// for every unit it runs, and SYSTEMD_EXEC_PID (where present) to the pid of
// the process it started, so a child of a service does not count.
bool StartedByServiceManager();

// Sends one notification ("READY=1", "STOPPING=1", "STATUS=...") to the socket
// named by NOTIFY_SOCKET; false when there is none or sending failed.
bool NotifyServiceManager(const std::string& state);

}  // namespace pv::platform
