// Polling with a deadline: every wait of the end-to-end tests ends, with the
// condition met or with the time out.
#pragma once

#include <chrono>
#include <thread>

namespace pv::e2e {

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step = std::chrono::milliseconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(step);
  }
}

}  // namespace pv::e2e
