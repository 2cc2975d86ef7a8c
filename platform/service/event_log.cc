#include "platform/service/event_log.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <syslog.h>
#endif

#include "platform/service/unit_file.h"

namespace pv::platform {

std::string EventLogText(long number, const std::string& description) {
  return "[" + std::to_string(number) + "] " + description;
}

#ifdef _WIN32

// An entry of error type, event id 109, in the Application log under the
// service's name.
void WriteEventLogError(long number, const std::string& description) {
  HANDLE source = RegisterEventSourceA(nullptr, kServiceName);
  if (source == nullptr) return;
  const std::string text = EventLogText(number, description);
  const char* strings[] = {text.c_str()};
  ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, static_cast<DWORD>(kEventLogErrorId), nullptr, 1, 0,
               strings, nullptr);
  DeregisterEventSource(source);
}

#else

void WriteEventLogError(long number, const std::string& description) {
  openlog(kServiceName, LOG_PID, LOG_DAEMON);
  syslog(LOG_ERR, "%s", EventLogText(number, description).c_str());
  closelog();
}

#endif

}  // namespace pv::platform
