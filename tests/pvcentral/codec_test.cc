// The simulator's framing and command escapes, on their own.
#include <gtest/gtest.h>

#include <string>

#include "common/cp1252.h"
#include "tools/pvcentral/command.h"
#include "tools/pvcentral/framer.h"

namespace pv::central {
namespace {

TEST(Framer, CutsMessagesWhereverTheReadsEnd) {
  Framer f;
  std::vector<std::string> got;
  for (char c : std::string("+OK CONN:tPVStr:tPVStrNWID ABC:tPVStrtail")) {
    for (auto& m : f.Feed(std::string(1, c)).messages) got.push_back(m);  // every delimiter split
  }
  EXPECT_EQ(got, (std::vector<std::string>{"+OK CONN", "", "NWID ABC"}));
  EXPECT_EQ(f.pending(), 4u);
}

TEST(Framer, TextWithoutDelimiterIsBoundedAndFramingRecovers) {
  Framer f(1000);
  std::size_t discarded = 0;
  for (int i = 0; i < 100; ++i) {
    const auto r = f.Feed(std::string(997, 'x') + ":tP");  // never a whole delimiter
    EXPECT_TRUE(r.messages.empty());
    discarded += r.discarded;
    ASSERT_LE(f.pending(), 1000u);
  }
  EXPECT_GT(discarded, 90000u);
  // The kept tail still completes a delimiter split across the cut.
  const auto r = f.Feed("VStrDATR:tPVStr");
  ASSERT_EQ(r.messages.size(), 2u);
  EXPECT_EQ(r.messages[1], "DATR");
  EXPECT_EQ(f.pending(), 0u);
}

TEST(Command, ParsesTargetsVerbsAndEscapes) {
  auto c = ParseCommand("@2 SEND DATR now\r");
  ASSERT_TRUE(c);
  EXPECT_EQ(std::to_string(c->target) + " " + c->verb + " " + c->arg, "2 send DATR now");
  for (const char* bad : {"", "@x datr", "@0 datr"}) EXPECT_FALSE(ParseCommand(bad)) << bad;

  std::string error;
  EXPECT_EQ(Unescape("\\n+OK\\tA\\\\\\x00\\xa7", error), std::string("\n+OK\tA\\\0\xA7", 9));
  for (const char* bad : {"bad\\q", "end\\", "\\x4"}) EXPECT_FALSE(Unescape(bad, error)) << bad;
  // Text between escapes goes through the converter; \xHH stays one byte.
  EXPECT_EQ(Unescape("\xC2\xA7\\xA7", error, &common::Utf8ToCp1252), "\xA7\xA7");
}

}  // namespace
}  // namespace pv::central
