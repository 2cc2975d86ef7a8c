#include "platform/local_time.h"

namespace pv::platform {

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
#ifdef _WIN32
  if (localtime_s(&tm, &t) != 0) tm = std::tm{};
#else
  if (localtime_r(&t, &tm) == nullptr) tm = std::tm{};
#endif
  return tm;
}

}  // namespace pv::platform
