#include "db/odbc/odbc_values.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "db/odbc/utf16.h"
#include "platform/odbc_api.h"

namespace pv::db::odbc {

namespace {

// SQL Server's own types as drivers report them.
constexpr SQLSMALLINT kSqlSsTime2 = -154;
constexpr SQLSMALLINT kSqlSsTimestampOffset = -155;

constexpr std::size_t kFirstChunk = 64 * 1024;       // bytes; most values fit
constexpr std::size_t kMaxChunk = 16 * 1024 * 1024;  // bytes per call for large values

// Size of the next chunk: the rest when the driver told it (within bounds),
// else twice the last one.
std::size_t NextChunk(std::size_t last, SQLLEN remaining) {
  if (remaining > 0) {
    return std::clamp<std::size_t>(static_cast<std::size_t>(remaining), 1, kMaxChunk);
  }
  return std::min(last * 2, kMaxChunk);
}

Value ReadBinary(OdbcSession& session, SQLHSTMT stmt, SQLUSMALLINT column) {
  Bytes out;
  std::size_t chunk = kFirstChunk;
  for (;;) {
    const std::size_t old = out.size();
    out.resize(old + chunk);
    SQLLEN ind = 0;
    const SQLRETURN rc =
        SQLGetData(stmt, column, SQL_C_BINARY, out.data() + old, static_cast<SQLLEN>(chunk), &ind);
    if (rc == SQL_NO_DATA) {
      out.resize(old);
      break;
    }
    if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, stmt, "SQLGetData", rc);
    if (ind == SQL_NULL_DATA) return Value::Null();
    const bool truncated = rc == SQL_SUCCESS_WITH_INFO &&
                           (ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) > chunk);
    if (!truncated) {
      out.resize(old + static_cast<std::size_t>(std::max<SQLLEN>(ind, 0)));
      break;
    }
    // The whole buffer was filled; `ind` is what was left before this call.
    const SQLLEN remaining = ind == SQL_NO_TOTAL ? 0 : ind - static_cast<SQLLEN>(chunk);
    chunk = NextChunk(chunk, remaining);
  }
  out.shrink_to_fit();
  return Value::Binary(std::move(out));
}

// Text as UTF-16 (SQL_C_WCHAR) in chunks; every chunk but the last ends in
// the terminating zero the driver adds. Null gives nullopt.
std::optional<std::u16string> ReadWideText(OdbcSession& session, SQLHSTMT stmt,
                                           SQLUSMALLINT column) {
  std::u16string out;
  std::size_t units = kFirstChunk / sizeof(SQLWCHAR);
  for (;;) {
    const std::size_t old = out.size();
    out.resize(old + units);
    SQLLEN ind = 0;
    const SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, out.data() + old,
                                    static_cast<SQLLEN>(units * sizeof(SQLWCHAR)), &ind);
    if (rc == SQL_NO_DATA) {
      out.resize(old);
      break;
    }
    if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, stmt, "SQLGetData", rc);
    if (ind == SQL_NULL_DATA) return std::nullopt;
    const std::size_t room = (units - 1) * sizeof(SQLWCHAR);
    const bool truncated = rc == SQL_SUCCESS_WITH_INFO &&
                           (ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) > room);
    if (!truncated) {
      out.resize(old + static_cast<std::size_t>(std::max<SQLLEN>(ind, 0)) / sizeof(SQLWCHAR));
      break;
    }
    out.resize(old + units - 1);  // drop the terminator
    // Room for the rest and its terminator when the driver told the size.
    const SQLLEN remaining = ind == SQL_NO_TOTAL ? 0
                                                 : ind - static_cast<SQLLEN>(room) +
                                                       static_cast<SQLLEN>(sizeof(SQLWCHAR));
    units = NextChunk(units * sizeof(SQLWCHAR), remaining) / sizeof(SQLWCHAR) + 1;
  }
  return out;
}

template <typename T>
bool ReadFixed(OdbcSession& session, SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT cType,
               T& out) {
  SQLLEN ind = 0;
  const SQLRETURN rc = SQLGetData(stmt, column, cType, &out, sizeof(T), &ind);
  if (rc == SQL_NO_DATA) return false;
  if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, stmt, "SQLGetData", rc);
  return ind != SQL_NULL_DATA;
}

bool Digits(std::string_view s, std::size_t pos, std::size_t n, int& out) {
  if (pos + n > s.size()) return false;
  out = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = s[pos + i];
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  return true;
}

// "hh:mm[:ss[.fffffff]]" as a time of day on 1900-01-01.
std::optional<DateTime> ParseTimeOfDay(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  DateTime t;
  if (!Digits(s, 0, 2, t.hour) || s.size() < 5 || s[2] != ':' || !Digits(s, 3, 2, t.minute)) {
    return std::nullopt;
  }
  std::size_t pos = 5;
  if (pos < s.size()) {
    if (s[pos] != ':' || !Digits(s, pos + 1, 2, t.second)) return std::nullopt;
    pos += 3;
    if (pos < s.size()) {
      if (s[pos] != '.') return std::nullopt;
      ++pos;
      int digits = 0;
      int fraction = 0;
      for (; pos < s.size(); ++pos) {
        if (s[pos] < '0' || s[pos] > '9') return std::nullopt;
        if (digits < 9) {
          fraction = fraction * 10 + (s[pos] - '0');
          ++digits;
        }
      }
      if (digits == 0) return std::nullopt;
      for (int i = digits; i < 9; ++i) fraction *= 10;
      t.nanosecond = fraction;
    }
  }
  if (t.hour > 23 || t.minute > 59 || t.second > 59) return std::nullopt;
  return t;
}

}  // namespace

ColumnKind KindOfSqlType(SQLSMALLINT sqlType) {
  switch (sqlType) {
    case SQL_BIT:
      return ColumnKind::Bit;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      return ColumnKind::Integer;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return ColumnKind::Float;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME:  // also SQL_DATE of ODBC 2
    case SQL_TIMESTAMP:
    case kSqlSsTimestampOffset:
      return ColumnKind::DateTime;
    case SQL_TYPE_TIME:
    case SQL_TIME:
    case kSqlSsTime2:
      return ColumnKind::TimeOfDay;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return ColumnKind::Binary;
    default:
      return ColumnKind::Text;
  }
}

std::vector<ColumnInfo> DescribeColumns(OdbcSession& session, SQLHSTMT stmt) {
  SQLSMALLINT count = 0;
  SQLRETURN rc = SQLNumResultCols(stmt, &count);
  if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, stmt, "SQLNumResultCols", rc);
  std::vector<ColumnInfo> columns;
  columns.reserve(static_cast<std::size_t>(std::max<SQLSMALLINT>(count, 0)));
  for (SQLSMALLINT i = 1; i <= count; ++i) {
    std::u16string name(256, u'\0');
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
      rc = SQLDescribeColW(
          stmt, static_cast<SQLUSMALLINT>(i), reinterpret_cast<SQLWCHAR*>(name.data()),
          static_cast<SQLSMALLINT>(name.size()), &nameLength, &type, &size, &digits, &nullable);
      if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, stmt, "SQLDescribeCol", rc);
      if (nameLength < static_cast<SQLSMALLINT>(name.size())) break;
      name.assign(static_cast<std::size_t>(std::min<int>(nameLength + 1, 32767)), u'\0');
    }
    name.resize(std::min<std::size_t>(
        static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)), name.size() - 1));
    // unixODBC reports the length of a narrow-only driver's UTF-8 text; the
    // name ends at its terminator.
    if (const std::size_t end = name.find(u'\0'); end != std::u16string::npos) name.resize(end);
    columns.push_back(ColumnInfo{Utf16ToUtf8(name), type, KindOfSqlType(type)});
  }
  return columns;
}

Value ReadValue(OdbcSession& session, SQLHSTMT stmt, SQLUSMALLINT column, ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Bit: {
      unsigned char v = 0;
      return ReadFixed(session, stmt, column, SQL_C_BIT, v) ? Value::Bit(v != 0) : Value::Null();
    }
    case ColumnKind::Integer: {
      std::int64_t v = 0;
      return ReadFixed(session, stmt, column, SQL_C_SBIGINT, v) ? Value::Integer(v) : Value::Null();
    }
    case ColumnKind::Float: {
      double v = 0;
      return ReadFixed(session, stmt, column, SQL_C_DOUBLE, v) ? Value::Float(v) : Value::Null();
    }
    case ColumnKind::DateTime: {
      SQL_TIMESTAMP_STRUCT ts{};
      if (!ReadFixed(session, stmt, column, SQL_C_TYPE_TIMESTAMP, ts)) return Value::Null();
      return Value::Date(DateTime{ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second,
                                  static_cast<int>(ts.fraction)});
    }
    case ColumnKind::TimeOfDay: {
      // Read as text: drivers fill a timestamp from a time with today's date.
      std::optional<std::u16string> text = ReadWideText(session, stmt, column);
      if (!text) return Value::Null();
      std::string utf8 = Utf16ToUtf8(*text);
      if (std::optional<DateTime> t = ParseTimeOfDay(utf8)) return Value::Date(*t);
      return Value::Text(std::move(utf8));
    }
    case ColumnKind::Binary:
      return ReadBinary(session, stmt, column);
    case ColumnKind::Text:
      break;
  }
  std::optional<std::u16string> text = ReadWideText(session, stmt, column);
  if (!text) return Value::Null();
  return Value::Text(Utf16ToUtf8(*text));
}

}  // namespace pv::db::odbc
