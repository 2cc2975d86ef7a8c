#include "db/value.h"

#include <gtest/gtest.h>

#include "db/connection.h"
#include "tests/support/embedded_instance.h"

namespace pv::db {
namespace {

TEST(DateTimeText, WritesIsoWithTAndReadsThatAndTheServersFormsBack) {
  EXPECT_EQ((DateTime{2026, 12, 4, 13, 5, 9, 0}).ToText(), "2026-12-04T13:05:09");
  EXPECT_EQ((DateTime{2026, 1, 2, 3, 4, 5, 120000000}).ToText(), "2026-01-02T03:04:05.12");
  EXPECT_EQ((DateTime{999, 1, 2, 0, 0, 0, 1}).ToText(), "0999-01-02T00:00:00");

  EXPECT_EQ(DateTime::Parse("2026-12-04T13:05:09"), (DateTime{2026, 12, 4, 13, 5, 9, 0}));
  EXPECT_EQ(DateTime::Parse("2026-12-04"), (DateTime{2026, 12, 4, 0, 0, 0, 0}));
  EXPECT_EQ(DateTime::Parse("2026-12-04 13:05"), (DateTime{2026, 12, 4, 13, 5, 0, 0}));
  EXPECT_EQ(DateTime::Parse("2026-12-04 13:05:09.123"),
            (DateTime{2026, 12, 4, 13, 5, 9, 123000000}));
  // Round trip through the text form keeps every field to the millisecond.
  DateTime odd{2024, 2, 29, 23, 59, 59, 987000000};
  EXPECT_EQ(DateTime::Parse(odd.ToText()), odd);

  for (const char* bad : {"", "2026", "2026-13-01", "2026-02-30", "2025-02-29", "2026-12-04X13:05",
                          "2026-12-04 24:00", "2026-12-04 13:05:09.", "2026-12-04 13:05:09.5x",
                          "26-12-04", "2026-12-04T13", "abc"}) {
    EXPECT_FALSE(DateTime::Parse(bad)) << bad;
  }
}

TEST(ValueText, ConvertsEachTypeAsTheServiceWritesItAndNullToTheFallback) {
  EXPECT_EQ(Value::Null().ToText(), "");
  EXPECT_EQ(Value::Integer(-42).ToText(), "-42");
  EXPECT_EQ(Value::Integer(9007199254740993).ToText(), "9007199254740993");
  EXPECT_EQ(Value::Bit(true).ToText(), "True");
  EXPECT_EQ(Value::Bit(false).ToText(), "False");
  EXPECT_EQ(Value::Float(0.1).ToText(), "0.1");
  EXPECT_EQ(Value::Float(2.0).ToText(), "2");
  EXPECT_EQ(Value::Float(1e300).ToText(), "1e+300");
  EXPECT_EQ(Value::Date({2026, 12, 4, 13, 5, 9, 0}).ToText(), "2026-12-04T13:05:09");
  EXPECT_EQ(Value::Binary({'a', 0, 'b'}).ToText(), std::string("a\0b", 3));
  // A float's text reads back as the same number.
  EXPECT_EQ(std::stod(Value::Float(1.0 / 3.0).ToText()), 1.0 / 3.0);

  EXPECT_EQ(NullToDefault(Value::Null(), "False"), "False");
  EXPECT_EQ(NullToDefault(Value::Text(""), "x"), "");
  EXPECT_EQ(NullToDefault(Value::Bit(true), "False"), "True");
}

TEST(ValueAccess, AccessorsRefuseOtherTypesWithTypeMismatch) {
  EXPECT_EQ(Value::Bit(true).AsInteger(), 1);
  EXPECT_EQ(Value::Text(" 12 ").AsInteger(), 12);
  EXPECT_EQ(Value::Integer(3).AsFloat(), 3.0);
  using pv::testing::DbErrorOf;
  EXPECT_EQ(DbErrorOf([] { (void)Value::Text("12a").AsInteger(); }), kErrTypeMismatch);
  EXPECT_EQ(DbErrorOf([] { (void)Value::Null().AsInteger(); }), kErrTypeMismatch);
  EXPECT_EQ(DbErrorOf([] { (void)Value::Integer(1).AsTextRef(); }), kErrTypeMismatch);
  EXPECT_EQ(DbErrorOf([] { (void)Value::Text("x").AsBinary(); }), kErrTypeMismatch);
  EXPECT_EQ(DbErrorOf([] { (void)Value::Text("2026-01-01").AsDateTime(); }), kErrTypeMismatch);
  EXPECT_TRUE(Value::Binary({1}).HoldsData());
  EXPECT_FALSE(Value::Binary({}).HoldsData());
  EXPECT_FALSE(Value::Null().HoldsData());
}

}  // namespace
}  // namespace pv::db
