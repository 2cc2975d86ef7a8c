#include "common/cp1252.h"

#include <gtest/gtest.h>

namespace pv::common {
namespace {

TEST(Cp1252, MapsTheSetBothWaysAndEverythingElseToQuestionMarks) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\xC2\xA7z", "a\xA7z"},                    // §
      {"\xE2\x82\xAC", "\x80"},                    // €
      {"caf\xC3\xA9", "caf\xE9"},                  // é
      {"\xE2\x80\x9Cq\xE2\x80\x9D", "\x93q\x94"},  // “q”
      {"x\xE4\xB8\xADz", "x?z"},                   // a CJK character
      {"\xF0\x9F\x98\x80", "?"},                   // an emoji
      {"a\xC3", "a?"},                             // truncated
      {"\xC0\x80", "??"},                          // overlong
      {"\xED\xA0\x80", "???"},                     // surrogate
      {"\xFF\x62\x80", "?b?"},                     // stray bytes
  };
  for (const auto& [utf8, cp1252] : cases) EXPECT_EQ(Utf8ToCp1252(utf8), cp1252) << utf8;
  EXPECT_EQ(Cp1252ToUtf8("\xA7\x80\xE9\x9F"), "\xC2\xA7\xE2\x82\xAC\xC3\xA9\xC5\xB8");
  EXPECT_FALSE(IsValidUtf8("\xC3("));
  EXPECT_TRUE(IsValidUtf8("plain \xC2\xA7"));

  // Every byte survives a round trip.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  const std::string utf8 = Cp1252ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Utf8ToCp1252(utf8), all);
}

}  // namespace
}  // namespace pv::common
