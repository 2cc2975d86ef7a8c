// SQL Server's readings of date-time and bit text.
#include "db/tsql/literals.h"

#include <gtest/gtest.h>

namespace pv::db::tsql {
namespace {

TEST(DateTimeText, ReadsTheFormsSqlServerReadsRoundedToItsSteps) {
  const struct {
    const char* text;
    const char* stored;  // "invalid": refused
  } cases[] = {
      {"2026-12-04T13:05:09", "2026-12-04 13:05:09.000"},
      {"2026-12-04 13:05", "2026-12-04 13:05:00.000"},
      {"2026-12-04", "2026-12-04 00:00:00.000"},
      {"20261204", "2026-12-04 00:00:00.000"},
      {"20261204 13:05:09", "2026-12-04 13:05:09.000"},
      {"12/4/2026", "2026-12-04 00:00:00.000"},
      {"12/04/2026 1:05:09 PM", "2026-12-04 13:05:09.000"},
      {"12/04/2026 12:00:00 AM", "2026-12-04 00:00:00.000"},
      {"13:05:09", "1900-01-01 13:05:09.000"},
      {"  2026-12-04T13:05:09  ", "2026-12-04 13:05:09.000"},
      {"", "1900-01-01 00:00:00.000"},
      {"2024-02-29", "2024-02-29 00:00:00.000"},
      {"2026-12-04 13:05:09.000", "2026-12-04 13:05:09.000"},  // the stored form itself
      // Fractions in SQL Server's datetime steps of 1/300 s; .999 rounds up
      // into the next day.
      {"2026-12-04T13:05:09.123", "2026-12-04 13:05:09.123"},
      {"2026-12-04T13:05:09.001", "2026-12-04 13:05:09.000"},
      {"2026-12-04T13:05:09.002", "2026-12-04 13:05:09.003"},
      {"2026-12-31T23:59:59.999", "2027-01-01 00:00:00.000"},
      {"2026-02-29", "invalid"},
      {"2026-13-01", "invalid"},
      {"2026-12-32", "invalid"},
      {"2026-12-04T24:00:00", "invalid"},
      {"1752-12-31", "invalid"},
      {"tomorrow", "invalid"},
      {"2026-12-04X", "invalid"},
      {"12/4", "invalid"},
      {"2026-12-04 13", "invalid"},
      {"13:61:00", "invalid"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StoredDateTimeFromText(c.text).value_or("invalid"), c.stored) << c.text;
  }
}

TEST(DateTimeText, NumbersCountDaysFrom1900) {
  EXPECT_EQ(StoredDateTime(*DateTimeFromDays(0)), "1900-01-01 00:00:00.000");
  EXPECT_EQ(StoredDateTime(*DateTimeFromDays(1.5)), "1900-01-02 12:00:00.000");
  const auto p = ParseDateTimeText("2026-12-04T13:05:09");
  ASSERT_TRUE(p);
  EXPECT_EQ(StoredDateTime(*DateTimeFromDays(DaysSince1900(*p) + 30)), "2027-01-03 13:05:09.000");
  EXPECT_FALSE(DateTimeFromDays(1e9));
}

TEST(BitText, ReadsTrueFalseAndNumbers) {
  const struct {
    const char* text;
    int bit;  // -1: refused
  } cases[] = {{"True", 1}, {"FALSE", 0}, {" true ", 1}, {"1", 1},     {"0", 0},
               {"-3", 1},   {"", 0},      {"yes", -1},   {"Truee", -1}};
  for (const auto& c : cases) EXPECT_EQ(BitFromText(c.text).value_or(-1), c.bit) << c.text;
}

}  // namespace
}  // namespace pv::db::tsql
