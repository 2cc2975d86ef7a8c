// Database values as both engines deliver them: Null, integer, float, bit,
// text (UTF-8), date-time and binary of any size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace pv::db {

struct DateTime {
  int year = 1900;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int nanosecond = 0;  // fraction of the second, 0 when there is none

  bool operator==(const DateTime&) const = default;
  // ISO 8601 with a 'T' ("2026-12-04T13:05:09", "2026-12-04T13:05:09.12"):
  // a form SQL Server reads the same way whatever its language and
  // date-format settings. The fraction is truncated to whole milliseconds
  // (at most three digits, as datetime accepts) with trailing zeros dropped,
  // and left out when it is under a millisecond.
  std::string ToText() const;
  // Accepts "YYYY-MM-DD", "YYYY-MM-DD hh:mm[:ss[.fff]]" and the 'T' form.
  static std::optional<DateTime> Parse(std::string_view text);
};

using Bytes = std::vector<std::uint8_t>;

class Value {
 public:
  enum class Type { Null, Integer, Float, Bit, Text, DateTime, Binary };

  Value() = default;  // Null
  static Value Null() { return Value(); }
  static Value Integer(std::int64_t v);
  static Value Float(double v);
  static Value Bit(bool v);
  static Value Text(std::string v);
  static Value Date(DateTime v);
  static Value Binary(Bytes v);

  Type type() const;
  bool IsNull() const { return type() == Type::Null; }

  // Accessors; each throws DbError (number 13, "Type mismatch") when the
  // value is not of that type (AsInteger also accepts Bit and integral text).
  std::int64_t AsInteger() const;
  double AsFloat() const;
  bool AsBit() const;
  const std::string& AsTextRef() const;
  const DateTime& AsDateTime() const;
  const Bytes& AsBinary() const;

  // The platform's default text conversion: integers in plain decimal,
  // floats in their shortest exact decimal form, bits "True"/"False",
  // date-times as DateTime::ToText, binary as its raw bytes, Null as "".
  std::string ToText() const;

  // Binary (or text) holding at least one byte; false for Null.
  bool HoldsData() const;

  bool operator==(const Value&) const = default;

 private:
  using Variant =
      std::variant<std::monostate, std::int64_t, double, bool, std::string, DateTime, Bytes>;
  explicit Value(Variant v) : v_(std::move(v)) {}

  Variant v_;
};

// The value's text, or `fallback` when it is Null.
std::string NullToDefault(const Value& value, const std::string& fallback);

}  // namespace pv::db
