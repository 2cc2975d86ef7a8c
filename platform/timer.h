// A repeating timer on the event loop, as the service host's four timers use
// it: disabled when made, ticking every interval while enabled, the handler
// run on the loop thread. A handler may disable (or re-enable) its own timer;
// enabling a disabled timer starts a fresh interval.
#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace pv::platform {

class Timer {
 public:
  using Handler = std::function<void()>;

  Timer(asio::io_context& io, std::chrono::milliseconds interval, Handler onTick = {});
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void SetHandler(Handler onTick);
  // A new interval applies from the next (re)start; an enabled timer is
  // restarted with it at once.
  void SetInterval(std::chrono::milliseconds interval);
  std::chrono::milliseconds interval() const { return interval_; }

  // Enabling an enabled timer keeps its current schedule.
  void Enable();
  void Disable();
  bool enabled() const { return enabled_; }
  // Number of ticks delivered so far (for diagnostics and tests).
  std::uint64_t ticks() const { return ticks_; }

 private:
  void Arm();
  void OnExpiry(std::uint64_t generation);

  asio::steady_timer timer_;
  std::chrono::milliseconds interval_;
  Handler onTick_;
  bool enabled_ = false;
  std::uint64_t generation_ = 0;
  std::uint64_t ticks_ = 0;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace pv::platform
