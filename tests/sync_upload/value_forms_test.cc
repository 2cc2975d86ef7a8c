// The value forms are the only protection between a value and the SQL text.
// The job tests write quotes, Nulls, bits and dates through them; these are
// the cases no job test meets: quotes in the raw form, a Null under text or
// number conversion, date text, and what may stand as a bare number.
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

TEST(ValueForms, QuotesDoubleInEveryFormAndNullsFailWhereNotAdmitted) {
  EXPECT_EQ(TextLiteral("''"), "N''''''");
  EXPECT_EQ(TextLiteral("x'); Drop Table Names; --"), "N'x''); Drop Table Names; --'");
  EXPECT_EQ(RawQuoted(Value::Text("A'B")), "N'A''B'");
  EXPECT_EQ(ErrorNumber([] { TextOf(Value(), "x"); }), kErrInvalidUseOfNull);
  EXPECT_EQ(ErrorNumber([] { Number(Value(), "x"); }), kErrInvalidUseOfNull);
  EXPECT_EQ(NullableDate(Value::Text("2026-12-04 13:05:09")), "N'2026-12-04T13:05:09'");
}

TEST(ValueForms, DateTimesCarryAtMostThreeFractionDigitsTruncated) {
  const Value late = Value::Date({2026, 12, 31, 23, 59, 59, 999999999});
  EXPECT_EQ(NullableDate(late), "N'2026-12-31T23:59:59.999'");
  EXPECT_EQ(RawQuoted(late), "N'2026-12-31T23:59:59.999'");
  EXPECT_EQ(NullableQuoted(Value::Date({2026, 1, 2, 3, 4, 5, 120500000})),
            "N'2026-01-02T03:04:05.12'");
  EXPECT_EQ(DefaultQuoted(Value::Date({2026, 1, 2, 3, 4, 5, 999999})), "N'2026-01-02T03:04:05'");
  // Date text from a datetime2 column, seven digits.
  EXPECT_EQ(NullableDate(Value::Text("2026-12-04 13:05:09.1234567")), "N'2026-12-04T13:05:09.123'");
}

TEST(ValueForms, BareNumbersAreWrittenOnlyFromWholeNumbers) {
  EXPECT_EQ(Number(Value::Integer(-12), "x"), "-12");
  EXPECT_EQ(Number(Value::Text(" 0042 "), "x"), "42");
  EXPECT_EQ(Number(Value::Float(3.0), "x"), "3");
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
