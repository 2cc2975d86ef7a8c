#include "platform/local_time.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/process_text.h"

namespace pv::platform {
namespace {

TEST(LocalTime, GivesTheCalendarTimeThatMktimeTurnsBack) {
  // Moments on both sides of the usual daylight-saving changes.
  for (std::time_t t : {std::time_t{0} + 86400, std::time_t{1700000000}, std::time_t{1719835200},
                        std::time(nullptr)}) {
    const std::tm tm = LocalTime(t);
    std::tm copy = tm;
    EXPECT_EQ(std::mktime(&copy), t);
    EXPECT_EQ(copy.tm_hour, tm.tm_hour);
  }
}

TEST(ProcessText, ArgumentsComeAsUtf8WithTheProgramFirst) {
  const char* argv[] = {"prog", "Zo\xC3\xAB", nullptr};
  const auto args = Utf8Arguments(2, argv);
  ASSERT_FALSE(args.empty());
#ifdef _WIN32
  // The process's own command line, whatever argv says.
  EXPECT_NE(args[0].find(".exe"), std::string::npos) << args[0];
#else
  EXPECT_EQ(args, (std::vector<std::string>{"prog", "Zo\xC3\xAB"}));
  Utf8Argv kept(2, argv);
  ASSERT_EQ(kept.argc(), 2);
  EXPECT_EQ(std::string(kept.argv()[1]), "Zo\xC3\xAB");
  EXPECT_EQ(kept.argv()[2], nullptr);
#endif
}

}  // namespace
}  // namespace pv::platform
