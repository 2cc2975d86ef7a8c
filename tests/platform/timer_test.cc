#include "platform/timer.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/wait.h"

namespace pv::platform {
namespace {

using namespace std::chrono_literals;
using pv::testing::RunFor;
using pv::testing::RunUntil;
using SteadyClock = std::chrono::steady_clock;

TEST(Timer, TicksRepeatedlyOnlyWhileEnabled) {
  asio::io_context io;
  int ticks = 0;
  Timer timer(io, 20ms, [&] { ++ticks; });
  EXPECT_FALSE(timer.enabled());
  RunFor(io, 80ms);
  EXPECT_EQ(ticks, 0);

  // Taken before Enable: the first tick is due an interval after it.
  auto start = SteadyClock::now();
  timer.Enable();
  EXPECT_TRUE(RunUntil(io, [&] { return ticks >= 3; }));
  EXPECT_GE(SteadyClock::now() - start, 60ms);
  EXPECT_EQ(timer.ticks(), static_cast<std::uint64_t>(ticks));

  timer.Disable();
  int seen = ticks;
  RunFor(io, 80ms);
  EXPECT_EQ(ticks, seen);
}

TEST(Timer, AHandlerCanDisableItsOwnTimerAndReenablingRestartsTheInterval) {
  asio::io_context io;
  std::vector<SteadyClock::time_point> at;
  Timer* self = nullptr;
  Timer timer(io, 50ms, [&] {
    at.push_back(SteadyClock::now());
    self->Disable();  // one-shot, as the start delay uses it
  });
  self = &timer;
  auto enabledAt = SteadyClock::now();
  timer.Enable();
  RunFor(io, 200ms);
  ASSERT_EQ(at.size(), 1u);
  EXPECT_GE(at[0] - enabledAt, 50ms);
  EXPECT_FALSE(timer.enabled());

  // Enable, disable just before the tick is due, enable again: the tick
  // comes a full interval after the second enable.
  timer.Enable();
  RunFor(io, 30ms);
  timer.Disable();
  auto reenabledAt = SteadyClock::now();
  timer.Enable();
  timer.Enable();  // enabling an enabled timer keeps its schedule
  RunFor(io, 200ms);
  ASSERT_EQ(at.size(), 2u);
  EXPECT_GE(at[1] - reenabledAt, 50ms);
}

TEST(Timer, NewIntervalAppliesAndATimerMayBeDestroyedWithATickPending) {
  asio::io_context io;
  int ticks = 0;
  {
    Timer timer(io, 10s, [&] { ++ticks; });
    timer.Enable();
    timer.SetInterval(10ms);
    RunUntil(io, [&] { return ticks >= 2; });
    EXPECT_EQ(timer.interval(), 10ms);
  }
  EXPECT_GE(ticks, 2);
  int seen = ticks;
  RunFor(io, 50ms);  // the cancelled wait completes without touching the timer
  EXPECT_EQ(ticks, seen);
}

}  // namespace
}  // namespace pv::platform
