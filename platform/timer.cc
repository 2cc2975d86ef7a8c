#include "platform/timer.h"

namespace pv::platform {

Timer::Timer(asio::io_context& io, std::chrono::milliseconds interval, Handler onTick)
    : timer_(io), interval_(interval), onTick_(std::move(onTick)) {}

Timer::~Timer() {
  ++generation_;
  timer_.cancel();
}

void Timer::SetHandler(Handler onTick) { onTick_ = std::move(onTick); }

void Timer::SetInterval(std::chrono::milliseconds interval) {
  interval_ = interval;
  if (enabled_) Arm();
}

void Timer::Enable() {
  if (enabled_) return;
  enabled_ = true;
  Arm();
}

void Timer::Disable() {
  if (!enabled_) return;
  enabled_ = false;
  ++generation_;
  timer_.cancel();
}

void Timer::Arm() {
  // A completion already queued for an older schedule sees a different
  // generation and does nothing.
  std::uint64_t generation = ++generation_;
  timer_.expires_after(interval_);
  std::weak_ptr<int> alive = alive_;
  timer_.async_wait([this, alive, generation](const std::error_code&) {
    if (alive.expired()) return;
    OnExpiry(generation);
  });
}

void Timer::OnExpiry(std::uint64_t generation) {
  if (!enabled_ || generation != generation_) return;
  // Schedule the next tick first, so the handler can disable or restart it.
  Arm();
  ++ticks_;
  // A copy: the handler may replace itself or destroy this timer.
  Handler handler = onTick_;
  if (handler) handler();
}

}  // namespace pv::platform
