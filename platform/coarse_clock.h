// A steady clock read for a few nanoseconds, to the nearest few
// milliseconds: for deadlines counted in seconds and for "at most once a
// second" checks that run before every statement. On Linux the kernel's
// coarse monotonic clock; elsewhere the standard steady clock.
#pragma once

#include <chrono>

#ifdef __linux__
#include <time.h>
#endif

namespace pv::platform {

struct CoarseClock {
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<CoarseClock>;
  static constexpr bool is_steady = true;

  static time_point now() noexcept {
#ifdef __linux__
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return time_point(std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec));
#else
    return time_point(
        std::chrono::duration_cast<duration>(std::chrono::steady_clock::now().time_since_epoch()));
#endif
  }
};

}  // namespace pv::platform
