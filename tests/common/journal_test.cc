#include "common/journal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pv::common {
namespace {

using namespace std::chrono_literals;

// A failure that repeats is written once and summed up when it changes, when
// it ends (the recovery written once) or every ten minutes while it lasts.
TEST(Journal, RepeatedFailuresAreFoldedAndARecoveryIsWrittenOnce) {
  std::vector<std::string> lines;
  auto now = std::chrono::system_clock::time_point{} + 1000h;
  Journal journal([&](const std::string& l) { lines.push_back(l); }, [&] { return now; });
  struct Step {
    enum { Fail, Recover, Write } kind;
    std::string text;
    std::chrono::minutes after;
    std::vector<std::string> written;
  };
  const std::vector<Step> steps{
      {Step::Recover, "link up", 0min, {}},  // nothing was failing
      {Step::Write, "started", 0min, {"<5>started"}},
      {Step::Fail, "link down: refused", 0min, {"<4>link down: refused"}},
      {Step::Fail, "link down: refused", 1min, {}},
      {Step::Fail, "link down: refused", 1min, {}},
      {Step::Fail,
       "link down: timed out",
       1min,
       {"<4>link down: refused (repeated 2 times in the last 3 min)", "<4>link down: timed out"}},
      {Step::Fail, "link down: timed out", 5min, {}},
      {Step::Fail,
       "link down: timed out",
       5min,
       {"<4>link down: timed out (repeated 2 times in the last 10 min)"}},
      {Step::Fail, "link down: timed out", 2min, {}},
      {Step::Recover,
       "link up",
       1min,
       {"<4>link down: timed out (repeated 1 time in the last 3 min)", "<5>link up"}},
      {Step::Recover, "link up", 1min, {}},
      {Step::Fail, "link down: refused", 1min, {"<4>link down: refused"}},
      {Step::Recover, "link up", 1min, {"<5>link up"}},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    lines.clear();
    now += s.after;
    if (s.kind == Step::Fail) journal.Failure("link", Priority::Warning, s.text);
    if (s.kind == Step::Recover) journal.Recovered("link", Priority::Notice, s.text);
    if (s.kind == Step::Write) journal.Write(Priority::Notice, s.text);
    EXPECT_EQ(lines, s.written) << "step " << i;
  }
}

}  // namespace
}  // namespace pv::common
