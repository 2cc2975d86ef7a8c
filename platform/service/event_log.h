// Error entries in the system log (syslog / the journal).
#pragma once

#include <string>

namespace pv::platform {

// "[" + number + "] " + description: the text of an error entry.
std::string EventLogText(long number, const std::string& description);

// The event id of every error entry in the Windows Application log.
inline constexpr unsigned long kEventLogErrorId = 109;

// Writes that text as an error entry under the service's name: on Windows to
// the Application event log with event id kEventLogErrorId, elsewhere to
// syslog at error priority.
void WriteEventLogError(long number, const std::string& description);

}  // namespace pv::platform
