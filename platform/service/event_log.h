// Error entries in the system log (syslog / the journal).
#pragma once

#include <string>

namespace pv::platform {

// "[" + number + "] " + description: the text of an error entry.
std::string EventLogText(long number, const std::string& description);

// Writes that text to syslog at error priority under the service's name.
void WriteEventLogError(long number, const std::string& description);

}  // namespace pv::platform
