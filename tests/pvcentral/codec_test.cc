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
  const std::string stream = "+OK CONN:tPVStr:tPVStrNWID ABC:tPVStrtail";
  std::vector<std::string> got;
  for (char c : stream) {  // one byte per read: every delimiter is split
    for (auto& m : f.Feed(std::string(1, c)).messages) got.push_back(m);
  }
  EXPECT_EQ(got, (std::vector<std::string>{"+OK CONN", "", "NWID ABC"}));
  EXPECT_EQ(f.pending(), 4u);

  Framer g;
  const auto r = g.Feed(stream);
  EXPECT_EQ(r.messages, (std::vector<std::string>{"+OK CONN", "", "NWID ABC"}));
  EXPECT_EQ(Framer::Frame("PVTE"), "PVTE:tPVStr");
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
  EXPECT_EQ(c->target, 2);
  EXPECT_EQ(c->verb, "send");
  EXPECT_EQ(c->arg, "DATR now");
  EXPECT_FALSE(ParseCommand(""));
  EXPECT_FALSE(ParseCommand("@x datr"));
  EXPECT_FALSE(ParseCommand("@0 datr"));

  std::string error;
  EXPECT_EQ(Unescape("\\n+OK\\tA\\\\\\x00\\xa7", error), std::string("\n+OK\tA\\\0\xA7", 9));
  EXPECT_FALSE(Unescape("bad\\q", error));
  EXPECT_FALSE(Unescape("end\\", error));
  EXPECT_FALSE(Unescape("\\x4", error));
  // Text between escapes goes through the converter; \xHH stays one byte.
  EXPECT_EQ(Unescape("\xC2\xA7\\xA7", error, &common::Utf8ToCp1252), "\xA7\xA7");
}

}  // namespace
}  // namespace pv::central
