#include "platform/service/event_log.h"

#include <syslog.h>

#include "platform/service/unit_file.h"

namespace pv::platform {

std::string EventLogText(long number, const std::string& description) {
  return "[" + std::to_string(number) + "] " + description;
}

void WriteEventLogError(long number, const std::string& description) {
  openlog(kServiceName, LOG_PID, LOG_DAEMON);
  syslog(LOG_ERR, "%s", EventLogText(number, description).c_str());
  closelog();
}

}  // namespace pv::platform
