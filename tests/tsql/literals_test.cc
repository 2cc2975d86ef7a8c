// SQL Server's readings of date-time and bit text.
#include "db/tsql/literals.h"

#include <gtest/gtest.h>

namespace pv::db::tsql {
namespace {

std::string Stored(std::string_view text) {
  auto s = StoredDateTimeFromText(text);
  return s ? *s : "invalid";
}

TEST(DateTimeText, ReadsTheFormsSqlServerReads) {
  EXPECT_EQ(Stored("2026-12-04T13:05:09"), "2026-12-04 13:05:09.000");
  EXPECT_EQ(Stored("2026-12-04 13:05:09"), "2026-12-04 13:05:09.000");
  EXPECT_EQ(Stored("2026-12-04 13:05"), "2026-12-04 13:05:00.000");
  EXPECT_EQ(Stored("2026-12-04"), "2026-12-04 00:00:00.000");
  EXPECT_EQ(Stored("20261204"), "2026-12-04 00:00:00.000");
  EXPECT_EQ(Stored("20261204 13:05:09"), "2026-12-04 13:05:09.000");
  EXPECT_EQ(Stored("12/4/2026"), "2026-12-04 00:00:00.000");
  EXPECT_EQ(Stored("12/04/2026 1:05:09 PM"), "2026-12-04 13:05:09.000");
  EXPECT_EQ(Stored("12/04/2026 12:00:00 AM"), "2026-12-04 00:00:00.000");
  EXPECT_EQ(Stored("13:05:09"), "1900-01-01 13:05:09.000");
  EXPECT_EQ(Stored("  2026-12-04T13:05:09  "), "2026-12-04 13:05:09.000");
  EXPECT_EQ(Stored(""), "1900-01-01 00:00:00.000");
  EXPECT_EQ(Stored("2024-02-29"), "2024-02-29 00:00:00.000");
}

TEST(DateTimeText, RoundsFractionsToSqlServerSteps) {
  EXPECT_EQ(Stored("2026-12-04T13:05:09.123"), "2026-12-04 13:05:09.123");
  EXPECT_EQ(Stored("2026-12-04T13:05:09.001"), "2026-12-04 13:05:09.000");
  EXPECT_EQ(Stored("2026-12-04T13:05:09.002"), "2026-12-04 13:05:09.003");
  EXPECT_EQ(Stored("2026-12-04T13:05:09.5"), "2026-12-04 13:05:09.500");
  // .999 rounds up into the next day, as SQL Server's datetime does.
  EXPECT_EQ(Stored("2026-12-31T23:59:59.999"), "2027-01-01 00:00:00.000");
}

TEST(DateTimeText, RefusesWhatIsNoDateTime) {
  for (const char* bad :
       {"2026-02-29", "2026-13-01", "2026-12-32", "2026-12-04T24:00:00", "1752-12-31", "tomorrow",
        "2026-12-04X", "12/4", "2026-12-04 13", "13:61:00"}) {
    EXPECT_EQ(Stored(bad), "invalid") << bad;
  }
  // The stored form itself is accepted unchanged.
  EXPECT_TRUE(IsStoredDateTime("2026-12-04 13:05:09.000"));
  EXPECT_FALSE(IsStoredDateTime("2026-12-04T13:05:09"));
  EXPECT_EQ(Stored("2026-12-04 13:05:09.000"), "2026-12-04 13:05:09.000");
}

TEST(DateTimeText, NumbersCountDaysFrom1900) {
  auto d = DateTimeFromDays(0);
  ASSERT_TRUE(d);
  EXPECT_EQ(StoredDateTime(*d), "1900-01-01 00:00:00.000");
  d = DateTimeFromDays(1.5);
  ASSERT_TRUE(d);
  EXPECT_EQ(StoredDateTime(*d), "1900-01-02 12:00:00.000");
  auto p = ParseDateTimeText("2026-12-04T13:05:09");
  ASSERT_TRUE(p);
  d = DateTimeFromDays(DaysSince1900(*p) + 30);
  ASSERT_TRUE(d);
  EXPECT_EQ(StoredDateTime(*d), "2027-01-03 13:05:09.000");
  EXPECT_FALSE(DateTimeFromDays(1e9));
}

TEST(BitText, ReadsTrueFalseAndNumbers) {
  EXPECT_EQ(BitFromText("True"), 1);
  EXPECT_EQ(BitFromText("FALSE"), 0);
  EXPECT_EQ(BitFromText(" true "), 1);
  EXPECT_EQ(BitFromText("1"), 1);
  EXPECT_EQ(BitFromText("0"), 0);
  EXPECT_EQ(BitFromText("-3"), 1);
  EXPECT_EQ(BitFromText(""), 0);
  EXPECT_FALSE(BitFromText("yes"));
  EXPECT_FALSE(BitFromText("Truee"));
}

}  // namespace
}  // namespace pv::db::tsql
