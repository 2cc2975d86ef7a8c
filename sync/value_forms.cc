#include "sync/value_forms.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "common/text.h"

namespace pv::sync {

namespace {

[[noreturn]] void ThrowNull(std::string_view what) {
  std::string text = "Invalid use of Null";
  if (!what.empty()) text += " (" + std::string(what) + ")";
  throw db::DbError(kErrInvalidUseOfNull, text);
}

[[noreturn]] void ThrowNotANumber(std::string_view what, std::string_view shown) {
  std::string text = "Type mismatch: ";
  text += what.empty() ? std::string("value") : std::string(what);
  text += " holds '" + std::string(shown) + "', not a whole number";
  throw db::DbError(kErrNotANumber, text);
}

// Shortened for error messages: a value in a log line needs no more.
std::string Shown(std::string_view text) {
  constexpr std::size_t kMax = 40;
  if (text.size() <= kMax) return std::string(text);
  return std::string(text.substr(0, kMax)) + "...";
}

}  // namespace

std::string TextLiteral(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 4);
  out += "N'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

std::string TextOf(const db::Value& value, std::string_view what) {
  if (value.IsNull()) ThrowNull(what);
  return value.ToText();
}

std::int64_t IntegerOf(const db::Value& value, std::string_view what) {
  switch (value.type()) {
    case db::Value::Type::Null:
      ThrowNull(what);
    case db::Value::Type::Integer:
      return value.AsInteger();
    case db::Value::Type::Float: {
      const double d = value.AsFloat();
      // 2^63 is exactly representable; anything at or beyond it does not fit.
      if (std::isfinite(d) && d == std::trunc(d) && d >= -9223372036854775808.0 &&
          d < 9223372036854775808.0) {
        return static_cast<std::int64_t>(d);
      }
      ThrowNotANumber(what, value.ToText());
    }
    case db::Value::Type::Text:
      if (auto v = common::ParseInteger(value.AsTextRef())) return *v;
      ThrowNotANumber(what, Shown(value.AsTextRef()));
    case db::Value::Type::Binary:
      ThrowNotANumber(what, "binary data");
    default:
      ThrowNotANumber(what, value.ToText());
  }
}

std::string Number(const db::Value& value, std::string_view what) {
  return std::to_string(IntegerOf(value, what));
}

std::string NullableNumber(const db::Value& value, std::string_view what) {
  return value.IsNull() ? std::string("Null") : Number(value, what);
}

std::string Quoted(const db::Value& value, std::string_view what) {
  return TextLiteral(TextOf(value, what));
}

std::string RawQuoted(const db::Value& value) {
  return value.IsNull() ? std::string("N''") : TextLiteral(value.ToText());
}

std::string DefaultQuoted(const db::Value& value, std::string_view fallback) {
  return value.IsNull() ? TextLiteral(fallback) : TextLiteral(value.ToText());
}

std::string NullableQuoted(const db::Value& value) {
  return value.IsNull() ? std::string("Null") : TextLiteral(value.ToText());
}

std::string NullableDate(const db::Value& value) {
  if (value.IsNull()) return "Null";
  if (value.type() == db::Value::Type::Text) {
    // A date held as text is handed over in the same ISO form when it reads
    // as one, so the server does not depend on its language settings.
    if (auto d = db::DateTime::Parse(value.AsTextRef())) return TextLiteral(d->ToText());
  }
  return TextLiteral(value.ToText());
}

}  // namespace pv::sync
