// The value forms are the only protection between a value and the SQL text;
// these cases are the ones where a slip corrupts data or opens the statement.
#include "sync/value_forms.h"

#include <gtest/gtest.h>

#include <functional>

namespace pv::sync {
namespace {

using db::Value;

long ErrorNumber(const std::function<void()>& f) {
  try {
    f();
  } catch (const db::DbError& e) {
    return e.number();
  }
  return 0;
}

TEST(ValueForms, TextLiteralsDoubleEveryQuoteAndCarryTheNPrefix) {
  EXPECT_EQ(TextLiteral("O'Brien"), "N'O''Brien'");
  EXPECT_EQ(TextLiteral("''"), "N''''''");
  EXPECT_EQ(TextLiteral("x'); Drop Table Names; --"), "N'x''); Drop Table Names; --'");
  EXPECT_EQ(TextLiteral("王"), "N'王'");
  EXPECT_EQ(Quoted(Value::Text("it's"), "t.c"), "N'it''s'");
  // Raw insertion and null default double too: the stored text equals the source.
  EXPECT_EQ(RawQuoted(Value::Text("A'B")), "N'A''B'");
  EXPECT_EQ(DefaultQuoted(Value::Text("12'3")), "N'12''3'");
  EXPECT_EQ(NullableQuoted(Value::Text("'")), "N''''");
  EXPECT_EQ(DoubleQuotes("a'b''c"), "a''b''''c");
}

TEST(ValueForms, NullFollowsEachFormsRule) {
  EXPECT_EQ(RawQuoted(Value()), "N''");
  EXPECT_EQ(DefaultQuoted(Value()), "N''");
  EXPECT_EQ(DefaultQuoted(Value(), "False"), "N'False'");
  EXPECT_EQ(NullableQuoted(Value()), "Null");
  EXPECT_EQ(NullableDate(Value()), "Null");
  EXPECT_EQ(NullableNumber(Value(), "Names.mailRoomID"), "Null");
  EXPECT_EQ(ErrorNumber([] { Quoted(Value(), "Names.lastName"); }), kErrInvalidUseOfNull);
  EXPECT_EQ(ErrorNumber([] { TextOf(Value(), "x"); }), kErrInvalidUseOfNull);
  EXPECT_EQ(ErrorNumber([] { Number(Value(), "x"); }), kErrInvalidUseOfNull);
  try {
    Quoted(Value(), "Names.lastName");
  } catch (const db::DbError& e) {
    EXPECT_NE(e.description().find("Names.lastName"), std::string::npos);
  }
}

TEST(ValueForms, BitsAndDatesUseTextTheServerReadsTheSameEverywhere) {
  EXPECT_EQ(RawQuoted(Value::Bit(true)), "N'True'");
  EXPECT_EQ(RawQuoted(Value::Bit(false)), "N'False'");
  EXPECT_EQ(NullableDate(Value::Date({2026, 12, 4, 13, 5, 9, 0})), "N'2026-12-04T13:05:09'");
  EXPECT_EQ(NullableDate(Value::Date({2026, 3, 6, 10, 11, 12, 500000000})),
            "N'2026-03-06T10:11:12.5'");
  EXPECT_EQ(NullableDate(Value::Text("2026-12-04 13:05:09")), "N'2026-12-04T13:05:09'");
  EXPECT_EQ(RawQuoted(Value::Date({2026, 1, 2, 0, 0, 0, 0})), "N'2026-01-02T00:00:00'");
}

TEST(ValueForms, BareNumbersAreWrittenOnlyFromWholeNumbers) {
  EXPECT_EQ(Number(Value::Integer(-12), "x"), "-12");
  EXPECT_EQ(Number(Value::Text(" 0042 "), "x"), "42");
  EXPECT_EQ(Number(Value::Float(3.0), "x"), "3");
  EXPECT_EQ(NullableNumber(Value::Integer(7), "x"), "7");
  for (const Value& v :
       {Value::Text("12abc"), Value::Text("1; Delete From Names"), Value::Text("1e3"),
        Value::Text(""), Value::Text("--1"), Value::Text("99999999999999999999"), Value::Float(3.5),
        Value::Float(1e300), Value::Bit(true), Value::Binary({1, 2}),
        Value::Date({2026, 1, 1, 0, 0, 0, 0})}) {
    EXPECT_EQ(ErrorNumber([&] { Number(v, "Logs.residentId"); }), kErrNotANumber) << v.ToText();
  }
}

}  // namespace
}  // namespace pv::sync
