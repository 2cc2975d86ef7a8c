// Running as a Windows service: the connection to the service control
// manager, the status reports it expects and the control requests it sends.
#pragma once

#include <functional>
#include <string>

#include "platform/service/control_signals.h"

namespace pv::platform {

// What the service's main sees of the service control manager while it runs.
class ServiceSession {
 public:
  virtual ~ServiceSession() = default;

  // Stop and shutdown requests of the manager, delivered on the manager's
  // control thread (not the event loop's): the handler has to post its work
  // and must not call back into the session.
  virtual void SetControlHandler(std::function<void(ControlRequest)> handler) = 0;
  // Start pending -> running: stop, pause/continue and shutdown accepted.
  virtual void ReportRunning() = 0;
  // Stop pending: no further controls accepted.
  virtual void ReportStopPending() = 0;
};

enum class DispatchResult {
  Ran,            // connected; the service ran and has stopped
  NotServiceRun,  // the process was not started by the service control manager
  Failed,         // connecting failed for another reason (error number given)
};

// Connects to the service control manager as the service "PVRemote" and runs
// `serviceMain` as the service's main on the thread the manager makes for it;
// returns when the service has stopped. The stopped status carries the
// value `serviceMain` returns (0 = no error). `error` receives the system
// error number of a failed connect.
DispatchResult RunServiceDispatcher(const std::function<int(ServiceSession&)>& serviceMain,
                                    unsigned long& error);

// The system's text for an error number, without the trailing line break.
std::string SystemErrorText(unsigned long error);

}  // namespace pv::platform
