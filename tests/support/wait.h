// Waiting with a deadline: every wait of the tests ends, with the condition
// met or with the time out. WaitUntil polls from the test thread while other
// threads or processes work; RunUntil runs an event loop in small slices
// until the condition holds.
#pragma once

#include <asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <thread>

namespace pv::testing {

using namespace std::chrono_literals;

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

// Runs `io` in slices until `done` holds or `limit` passes; calls `between`
// after each slice. Returns `done()`.
inline bool RunUntil(asio::io_context& io, const std::function<bool()>& done,
                     std::chrono::milliseconds limit = 5000ms,
                     const std::function<void()>& between = {}) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < end) {
    io.restart();
    io.run_for(2ms);
    if (between) between();
  }
  return done();
}

// Runs `io` for `d`.
inline void RunFor(asio::io_context& io, std::chrono::milliseconds d) {
  RunUntil(
      io, [] { return false; }, d);
}

}  // namespace pv::testing

namespace pv::e2e {
using pv::testing::WaitUntil;
}  // namespace pv::e2e
