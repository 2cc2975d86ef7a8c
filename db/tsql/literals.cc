#include "db/tsql/literals.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/text.h"
#include "db/tsql/lexer.h"

namespace pv::db::tsql {
namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

// Only spaces and tabs around a value are passed over; a line break is not.
std::string_view TrimSpacesAndTabs(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Reads 1..maxDigits digits at s[*p].
bool Num(std::string_view s, size_t* p, int minDigits, int maxDigits, int* out) {
  int v = 0;
  int k = 0;
  while (*p < s.size() && k < maxDigits && Digit(s[*p])) {
    v = v * 10 + (s[*p] - '0');
    ++*p;
    ++k;
  }
  if (k < minDigits) return false;
  *out = v;
  return true;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) return 29;
  return kDays[m - 1];
}

// Days from 1970-01-01 (proleptic Gregorian), and back.
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t yy = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yy + (*m <= 2));
}

const std::int64_t kDay1900 = DaysFromCivil(1900, 1, 1);

bool Valid(const DateTimeParts& d) {
  return d.year >= 1753 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= DaysInMonth(d.year, d.month) && d.hour >= 0 && d.hour <= 23 && d.minute >= 0 &&
         d.minute <= 59 && d.second >= 0 && d.second <= 59;
}

// Fraction digits at s[*p] (after the '.'), as SQL Server's 1/300 s ticks
// turned back into milliseconds (.000, .003, .007, ...). Returns the
// milliseconds, possibly 1000 after rounding up.
int FractionMs(std::string_view s, size_t* p) {
  double frac = 0;
  double scale = 0.1;
  while (*p < s.size() && Digit(s[*p])) {
    frac += (s[*p] - '0') * scale;
    scale /= 10;
    ++*p;
  }
  const long ticks = std::lround(frac * 300.0);
  return static_cast<int>((ticks * 1000 + 150) / 300);
}

// Adds `ms` milliseconds (may be 1000) carrying into seconds, days, ...
void Normalize(DateTimeParts* d) {
  if (d->millisecond < 1000) return;
  d->millisecond -= 1000;
  std::int64_t days = DaysFromCivil(d->year, d->month, d->day);
  int secs = d->hour * 3600 + d->minute * 60 + d->second + 1;
  if (secs >= 86400) {
    secs -= 86400;
    ++days;
  }
  d->hour = secs / 3600;
  d->minute = secs / 60 % 60;
  d->second = secs % 60;
  CivilFromDays(days, &d->year, &d->month, &d->day);
}

// hh:mm[:ss[.fff]] [AM|PM], or hAM; true when the rest of s is consumed.
bool ParseTime(std::string_view s, size_t p, DateTimeParts* d) {
  while (p < s.size() && s[p] == ' ') ++p;
  if (p >= s.size()) return true;
  if (!Num(s, &p, 1, 2, &d->hour)) return false;
  bool hasMinutes = false;
  if (p < s.size() && s[p] == ':') {
    ++p;
    if (!Num(s, &p, 1, 2, &d->minute)) return false;
    hasMinutes = true;
    if (p < s.size() && s[p] == ':') {
      ++p;
      if (!Num(s, &p, 1, 2, &d->second)) return false;
      if (p < s.size() && (s[p] == '.' || s[p] == ':')) {
        ++p;
        const size_t digits = p;
        d->millisecond = FractionMs(s, &p);
        if (p - digits > 3) return false;  // datetime keeps milliseconds, as SQL Server reads it
      }
    }
  }
  while (p < s.size() && s[p] == ' ') ++p;
  if (p + 2 <= s.size() &&
      (common::EqualsNoCase(s.substr(p, 2), "AM") || common::EqualsNoCase(s.substr(p, 2), "PM"))) {
    const bool pm = common::EqualsNoCase(s.substr(p, 2), "PM");
    if (d->hour < 1 || d->hour > 12) {
      if (!(d->hour == 0 && !pm)) return false;
    }
    if (pm && d->hour < 12) d->hour += 12;
    if (!pm && d->hour == 12) d->hour = 0;
    p += 2;
  } else if (!hasMinutes) {
    return false;
  }
  while (p < s.size() && s[p] == ' ') ++p;
  return p == s.size();
}

}  // namespace

TypeClass ClassOf(std::string_view t) {
  if (t.empty()) return TypeClass::Unknown;
  switch (t[0]) {
    case 'n':
      if (t == "nvarchar" || t == "nchar" || t == "ntext") return TypeClass::Text;
      if (t == "numeric") return TypeClass::Decimal;
      break;
    case 'v':
      if (t == "varchar") return TypeClass::Text;
      if (t == "varbinary") return TypeClass::Binary;
      break;
    case 'c':
      if (t == "char") return TypeClass::Text;
      break;
    case 't':
      if (t == "text") return TypeClass::Text;
      if (t == "tinyint") return TypeClass::Integer;
      if (t == "time") return TypeClass::DateTime;
      if (t == "timestamp") return TypeClass::Binary;
      break;
    case 's':
      if (t == "sysname") return TypeClass::Text;
      if (t == "smallint") return TypeClass::Integer;
      if (t == "smallmoney") return TypeClass::Decimal;
      if (t == "smalldatetime") return TypeClass::DateTime;
      break;
    case 'u':
      if (t == "uniqueidentifier") return TypeClass::Text;
      break;
    case 'x':
      if (t == "xml") return TypeClass::Text;
      break;
    case 'i':
      if (t == "int" || t == "integer") return TypeClass::Integer;
      if (t == "image") return TypeClass::Binary;
      break;
    case 'b':
      if (t == "bit") return TypeClass::Bit;
      if (t == "bigint") return TypeClass::Integer;
      if (t == "binary") return TypeClass::Binary;
      break;
    case 'd':
      if (t == "decimal") return TypeClass::Decimal;
      if (t == "datetime" || t == "date" || t == "datetime2") return TypeClass::DateTime;
      break;
    case 'm':
      if (t == "money") return TypeClass::Decimal;
      break;
    case 'f':
      if (t == "float") return TypeClass::Float;
      break;
    case 'r':
      if (t == "real") return TypeClass::Float;
      if (t == "rowversion") return TypeClass::Binary;
      break;
    default:
      break;
  }
  return TypeClass::Unknown;
}

bool IsStoredDateTime(std::string_view s) {
  if (s.size() != kStoredDateTimeSize) return false;
  static const char kPattern[] = "dddd-dd-dd dd:dd:dd.ddd";
  for (size_t i = 0; i < kStoredDateTimeSize; ++i) {
    if (kPattern[i] == 'd' ? !Digit(s[i]) : s[i] != kPattern[i]) return false;
  }
  return true;
}

std::optional<DateTimeParts> ParseDateTimeText(std::string_view text) {
  std::string_view s = TrimSpacesAndTabs(text);
  DateTimeParts d;
  if (s.empty()) return d;
  size_t p = 0;
  // Time only.
  {
    size_t q = 0;
    int h = 0;
    if (Num(s, &q, 1, 2, &h) && q < s.size() && s[q] == ':') {
      if (!ParseTime(s, 0, &d)) return std::nullopt;
      Normalize(&d);
      if (!Valid(d)) return std::nullopt;
      return d;
    }
  }
  int a = 0;
  const size_t before = p;
  if (!Num(s, &p, 1, 8, &a)) return std::nullopt;
  const size_t digits = p - before;
  if (digits == 8 && (p == s.size() || s[p] == ' ' || s[p] == 'T')) {
    // yyyymmdd
    d.year = a / 10000;
    d.month = a / 100 % 100;
    d.day = a % 100;
    if (p < s.size()) ++p;
  } else if (digits == 4 && p < s.size() && (s[p] == '-' || s[p] == '/' || s[p] == '.')) {
    // yyyy-mm-dd
    const char sep = s[p++];
    d.year = a;
    if (!Num(s, &p, 1, 2, &d.month) || p >= s.size() || s[p] != sep) return std::nullopt;
    ++p;
    if (!Num(s, &p, 1, 2, &d.day)) return std::nullopt;
    if (p < s.size()) {
      if (s[p] != 'T' && s[p] != ' ') return std::nullopt;
      ++p;
    }
  } else if (digits <= 2 && p < s.size() && (s[p] == '/' || s[p] == '-' || s[p] == '.')) {
    // mm/dd/yyyy (us_english: month first)
    const char sep = s[p++];
    d.month = a;
    if (!Num(s, &p, 1, 2, &d.day) || p >= s.size() || s[p] != sep) return std::nullopt;
    ++p;
    const size_t yb = p;
    if (!Num(s, &p, 2, 4, &d.year)) return std::nullopt;
    if (p - yb == 2) d.year += d.year < 50 ? 2000 : 1900;
    if (p - yb == 3) return std::nullopt;
    if (p < s.size()) {
      if (s[p] != ' ') return std::nullopt;
      ++p;
    }
  } else {
    return std::nullopt;
  }
  if (!ParseTime(s, p, &d)) return std::nullopt;
  if (!Valid(d)) return std::nullopt;
  Normalize(&d);
  if (!Valid(d)) return std::nullopt;
  return d;
}

std::optional<DateTimeParts> DateTimeFromDays(double days) {
  if (!std::isfinite(days)) return std::nullopt;
  const double whole = std::floor(days);
  double frac = days - whole;
  long ticks = std::lround(frac * 86400.0 * 300.0);
  std::int64_t day = kDay1900 + static_cast<std::int64_t>(whole);
  if (ticks >= 86400L * 300) {
    ticks -= 86400L * 300;
    ++day;
  }
  DateTimeParts d;
  CivilFromDays(day, &d.year, &d.month, &d.day);
  const long secs = ticks / 300;
  d.hour = static_cast<int>(secs / 3600);
  d.minute = static_cast<int>(secs / 60 % 60);
  d.second = static_cast<int>(secs % 60);
  d.millisecond = static_cast<int>(((ticks % 300) * 1000 + 150) / 300);
  Normalize(&d);
  if (!Valid(d)) return std::nullopt;
  return d;
}

double DaysSince1900(const DateTimeParts& d) {
  const double day = static_cast<double>(DaysFromCivil(d.year, d.month, d.day) - kDay1900);
  const double secs = d.hour * 3600.0 + d.minute * 60.0 + d.second + d.millisecond / 1000.0;
  return day + secs / 86400.0;
}

std::string StoredDateTime(const DateTimeParts& d) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", d.year, d.month, d.day,
                d.hour, d.minute, d.second, d.millisecond);
  return buf;
}

std::optional<std::string> StoredDateTimeFromText(std::string_view text) {
  if (IsStoredDateTime(text)) return std::string(text);
  auto d = ParseDateTimeText(text);
  if (!d) return std::nullopt;
  return StoredDateTime(*d);
}

std::optional<int> BitFromText(std::string_view text) {
  std::string_view s = TrimSpacesAndTabs(text);
  if (s.empty()) return 0;
  if (common::EqualsNoCase(s, "TRUE")) return 1;
  if (common::EqualsNoCase(s, "FALSE")) return 0;
  double v = 0;
  std::int64_t i = 0;
  bool isInt = false;
  if (!ParseNumber(s, &v, &i, &isInt)) return std::nullopt;
  return v != 0 ? 1 : 0;
}

bool ParseNumber(std::string_view text, double* value, std::int64_t* integer, bool* isInteger) {
  std::string_view s = TrimSpacesAndTabs(text);
  if (s.empty()) return false;
  size_t p = 0;
  if (s[p] == '+' || s[p] == '-') ++p;
  const size_t digitsStart = p;
  while (p < s.size() && Digit(s[p])) ++p;
  bool whole = true;
  size_t mantissaDigits = p - digitsStart;
  if (p < s.size() && s[p] == '.') {
    whole = false;
    ++p;
    const size_t f = p;
    while (p < s.size() && Digit(s[p])) ++p;
    mantissaDigits += p - f;
  }
  if (mantissaDigits == 0) return false;
  if (p < s.size() && (s[p] == 'e' || s[p] == 'E')) {
    whole = false;
    ++p;
    if (p < s.size() && (s[p] == '+' || s[p] == '-')) ++p;
    const size_t e = p;
    while (p < s.size() && Digit(s[p])) ++p;
    if (p == e) return false;
  }
  if (p != s.size()) return false;
  std::string_view num = s[0] == '+' ? s.substr(1) : s;
  *isInteger = false;
  if (whole) {
    std::int64_t iv = 0;
    auto r = std::from_chars(num.data(), num.data() + num.size(), iv);
    if (r.ec == std::errc() && r.ptr == num.data() + num.size()) {
      *integer = iv;
      *isInteger = true;
      *value = static_cast<double>(iv);
      return true;
    }
  }
  std::string copy(num);
  char* end = nullptr;
  *value = std::strtod(copy.c_str(), &end);
  return true;
}

}  // namespace pv::db::tsql
