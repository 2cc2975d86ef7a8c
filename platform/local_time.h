// The local calendar time of a moment, as the time stamps of the logs show it.
#pragma once

#include <ctime>

namespace pv::platform {

// `t` in the local time zone; all fields zero when it cannot be converted.
std::tm LocalTime(std::time_t t);

}  // namespace pv::platform
