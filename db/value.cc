#include "db/value.h"

#include <charconv>
#include <cstdio>
#include <system_error>

#include "db/error.h"

namespace pv::db {

namespace {

[[noreturn]] void ThrowMismatch() { throw DbError(kErrTypeMismatch, "Type mismatch"); }

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Reads exactly `width` decimal digits at `pos`; advances `pos` on success.
bool ReadDigits(std::string_view text, std::size_t& pos, int width, int& out) {
  if (pos + static_cast<std::size_t>(width) > text.size()) return false;
  int v = 0;
  for (int i = 0; i < width; ++i) {
    char c = text[pos + static_cast<std::size_t>(i)];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  pos += static_cast<std::size_t>(width);
  out = v;
  return true;
}

// Integral text as SQL Server converts it to a number: optional blanks and
// sign around plain decimal digits.
std::optional<std::int64_t> IntegralText(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  std::int64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace

std::string DateTime::ToText() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute,
                second);
  std::string out = buf;
  // At most three digits, the fraction truncated to the millisecond: SQL
  // Server's datetime refuses a literal with more.
  const int millisecond = nanosecond / 1000000;
  if (millisecond > 0) {
    std::snprintf(buf, sizeof buf, ".%03d", millisecond);
    std::string frac = buf;
    while (frac.back() == '0') frac.pop_back();
    out += frac;
  }
  return out;
}

std::optional<DateTime> DateTime::Parse(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  DateTime d;
  std::size_t pos = 0;
  if (!ReadDigits(text, pos, 4, d.year) || pos >= text.size() || text[pos++] != '-' ||
      !ReadDigits(text, pos, 2, d.month) || pos >= text.size() || text[pos++] != '-' ||
      !ReadDigits(text, pos, 2, d.day)) {
    return std::nullopt;
  }
  if (pos < text.size()) {
    if (text[pos] != 'T' && text[pos] != ' ') return std::nullopt;
    ++pos;
    if (!ReadDigits(text, pos, 2, d.hour) || pos >= text.size() || text[pos++] != ':' ||
        !ReadDigits(text, pos, 2, d.minute)) {
      return std::nullopt;
    }
    if (pos < text.size()) {
      if (text[pos++] != ':' || !ReadDigits(text, pos, 2, d.second)) return std::nullopt;
      if (pos < text.size()) {
        if (text[pos++] != '.') return std::nullopt;
        int digits = 0;
        int frac = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
          if (digits < 9) {
            frac = frac * 10 + (text[pos] - '0');
            ++digits;
          }
          ++pos;
        }
        if (digits == 0 || pos != text.size()) return std::nullopt;
        for (int i = digits; i < 9; ++i) frac *= 10;
        d.nanosecond = frac;
      }
    }
  }
  if (d.year < 1 || d.month < 1 || d.month > 12 || d.day < 1 ||
      d.day > DaysInMonth(d.year, d.month) || d.hour > 23 || d.minute > 59 || d.second > 59) {
    return std::nullopt;
  }
  return d;
}

Value Value::Integer(std::int64_t v) { return Value(Variant(std::in_place_type<std::int64_t>, v)); }
Value Value::Float(double v) { return Value(Variant(std::in_place_type<double>, v)); }
Value Value::Bit(bool v) { return Value(Variant(std::in_place_type<bool>, v)); }
Value Value::Text(std::string v) { return Value(Variant(std::move(v))); }
Value Value::Date(DateTime v) { return Value(Variant(v)); }
Value Value::Binary(Bytes v) { return Value(Variant(std::move(v))); }

Value::Type Value::type() const {
  switch (v_.index()) {
    case 1:
      return Type::Integer;
    case 2:
      return Type::Float;
    case 3:
      return Type::Bit;
    case 4:
      return Type::Text;
    case 5:
      return Type::DateTime;
    case 6:
      return Type::Binary;
    default:
      return Type::Null;
  }
}

std::int64_t Value::AsInteger() const {
  if (auto* i = std::get_if<std::int64_t>(&v_)) return *i;
  if (auto* b = std::get_if<bool>(&v_)) return *b ? 1 : 0;
  if (auto* s = std::get_if<std::string>(&v_)) {
    if (auto v = IntegralText(*s)) return *v;
  }
  ThrowMismatch();
}

double Value::AsFloat() const {
  if (auto* d = std::get_if<double>(&v_)) return *d;
  if (auto* i = std::get_if<std::int64_t>(&v_)) return static_cast<double>(*i);
  ThrowMismatch();
}

bool Value::AsBit() const {
  if (auto* b = std::get_if<bool>(&v_)) return *b;
  if (auto* i = std::get_if<std::int64_t>(&v_)) return *i != 0;
  ThrowMismatch();
}

const std::string& Value::AsTextRef() const {
  if (auto* s = std::get_if<std::string>(&v_)) return *s;
  ThrowMismatch();
}

const DateTime& Value::AsDateTime() const {
  if (auto* d = std::get_if<DateTime>(&v_)) return *d;
  ThrowMismatch();
}

const Bytes& Value::AsBinary() const {
  if (auto* b = std::get_if<Bytes>(&v_)) return *b;
  ThrowMismatch();
}

std::string Value::ToText() const {
  switch (type()) {
    case Type::Null:
      return {};
    case Type::Integer:
      return std::to_string(std::get<std::int64_t>(v_));
    case Type::Float: {
      char buf[64];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, std::get<double>(v_));
      if (ec != std::errc()) return {};
      return std::string(buf, end);
    }
    case Type::Bit:
      return std::get<bool>(v_) ? "True" : "False";
    case Type::Text:
      return std::get<std::string>(v_);
    case Type::DateTime:
      return std::get<DateTime>(v_).ToText();
    case Type::Binary: {
      const Bytes& b = std::get<Bytes>(v_);
      return std::string(b.begin(), b.end());
    }
  }
  return {};
}

bool Value::HoldsData() const {
  if (auto* b = std::get_if<Bytes>(&v_)) return !b->empty();
  if (auto* s = std::get_if<std::string>(&v_)) return !s->empty();
  return false;
}

std::string NullToDefault(const Value& value, const std::string& fallback) {
  return value.IsNull() ? fallback : value.ToText();
}

}  // namespace pv::db
