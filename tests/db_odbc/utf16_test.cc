#include "db/odbc/utf16.h"

#include <gtest/gtest.h>

namespace pv::db::odbc {
namespace {

TEST(Utf16Conversion, RoundTripsEveryPlaneAndReplacesMalformedInput) {
  const std::string text = "ASCII, \xC3\xA9t\xC3\xA9, \xE2\x82\xAC 12, \xF0\x9F\x98\x80 end";
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"ASCII, \u00e9t\u00e9, \u20ac 12, \U0001F600 end");
  EXPECT_EQ(Utf16ToUtf8(wide), text);

  // Truncated, overlong, surrogate-encoding and stray continuation bytes.
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80x"), u"\uFFFD\uFFFD\uFFFDx");
  EXPECT_EQ(Utf8ToUtf16("\x80"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  // Unpaired surrogates from a driver.
  std::u16string lone = u"x";
  lone.push_back(static_cast<char16_t>(0xD800));
  lone.push_back(u'y');
  lone.push_back(static_cast<char16_t>(0xDC00));
  EXPECT_EQ(Utf16ToUtf8(lone), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}

}  // namespace
}  // namespace pv::db::odbc
