#include "common/cp1252.h"

#include <gtest/gtest.h>

namespace pv::common {
namespace {

TEST(Cp1252, MapsTheSectionSignEuroAndAccentsBothWays) {
  EXPECT_EQ(Utf8ToCp1252("a\xC2\xA7"
                         "b"),
            "a\xA7"
            "b");                                                     // §
  EXPECT_EQ(Utf8ToCp1252("\xE2\x82\xAC"), "\x80");                    // €
  EXPECT_EQ(Utf8ToCp1252("caf\xC3\xA9"), "caf\xE9");                  // é
  EXPECT_EQ(Utf8ToCp1252("\xE2\x80\x9Cq\xE2\x80\x9D"), "\x93q\x94");  // “q”
  EXPECT_EQ(Cp1252ToUtf8("\xA7\x80\xE9\x9F"), "\xC2\xA7\xE2\x82\xAC\xC3\xA9\xC5\xB8");
}

TEST(Cp1252, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  std::string utf8 = Cp1252ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Utf8ToCp1252(utf8), all);
}

TEST(Cp1252, CharactersOutsideTheSetAndInvalidUtf8BecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1252("x\xE4\xB8\xAD"
                         "y"),
            "x?y");                                  // a CJK character
  EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x98\x80"), "?");  // an emoji
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");            // truncated
  EXPECT_EQ(Utf8ToCp1252("\xC0\x80"), "??");         // overlong
  EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80"), "???");    // surrogate
  EXPECT_EQ(Utf8ToCp1252("\xFF"
                         "b\x80"),
            "?b?");  // stray bytes
  EXPECT_FALSE(IsValidUtf8("\xC3("));
  EXPECT_TRUE(IsValidUtf8("plain \xC2\xA7"));
}

}  // namespace
}  // namespace pv::common
