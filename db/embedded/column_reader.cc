#include "db/embedded/column_reader.h"

#include <string>
#include <string_view>

#include "common/text.h"
#include "db/embedded/schema_cache.h"

namespace pv::db::embedded {

namespace {

std::string_view TextOf(sqlite3_stmt* st, int i) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
  return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(st, i)))
           : std::string_view();
}

Bytes BytesOf(sqlite3_stmt* st, int i) {
  const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(st, i));
  const int n = sqlite3_column_bytes(st, i);
  return p && n > 0 ? Bytes(p, p + n) : Bytes();
}

// "YYYY-MM-DD hh:mm:ss.fff": the one form in which date-times are stored.
bool IsStoredDateTime(std::string_view t) {
  if (t.size() != 23) return false;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const char c = t[i];
    switch (i) {
      case 4:
      case 7:
        if (c != '-') return false;
        break;
      case 10:
        if (c != ' ') return false;
        break;
      case 13:
      case 16:
        if (c != ':') return false;
        break;
      case 19:
        if (c != '.') return false;
        break;
      default:
        if (c < '0' || c > '9') return false;
    }
  }
  return true;
}

// A computed column: typed by what it holds. Text in the stored date-time
// form comes from a date-time (a column through Max(), a subquery, GETDATE())
// and reads as one, as SQL Server types such an expression.
Value ByStorage(sqlite3_stmt* st, int i) {
  switch (sqlite3_column_type(st, i)) {
    case SQLITE_INTEGER:
      return Value::Integer(sqlite3_column_int64(st, i));
    case SQLITE_FLOAT:
      return Value::Float(sqlite3_column_double(st, i));
    case SQLITE_TEXT: {
      std::string_view t = TextOf(st, i);
      if (IsStoredDateTime(t)) {
        if (auto d = DateTime::Parse(t)) return Value::Date(*d);
      }
      return Value::Text(std::string(t));
    }
    case SQLITE_BLOB:
      return Value::Binary(BytesOf(st, i));
    default:
      return Value::Null();
  }
}

// 'True'/'False' and numbers stored as text in a bit column read as bits.
Value BitFromText(std::string_view t) {
  std::string s = common::AsciiLower(t);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  if (s == "true") return Value::Bit(true);
  if (s == "false") return Value::Bit(false);
  if (!s.empty() && s.find_first_not_of("0123456789") == std::string::npos) {
    return Value::Bit(s.find_first_not_of('0') != std::string::npos);
  }
  return Value::Text(std::string(t));
}

}  // namespace

ColumnKind KindOfDeclaredType(const char* declared) {
  // Read without building a string: this runs for every column of every
  // result set. No type this knows is longer than the buffer.
  char buffer[24];
  const std::string_view t = BaseTypeName(declared, buffer, sizeof buffer);
  if (t.empty()) return ColumnKind::Storage;
  if (t == "bit") return ColumnKind::Bit;
  if (t == "int" || t == "integer" || t == "smallint" || t == "tinyint" || t == "bigint") {
    return ColumnKind::Integer;
  }
  if (t == "float" || t == "real" || t == "money" || t == "smallmoney" || t == "decimal" ||
      t == "numeric" || t == "double") {
    return ColumnKind::Float;
  }
  if (t == "datetime" || t == "smalldatetime" || t == "date" || t == "datetime2") {
    return ColumnKind::DateTime;
  }
  if (t == "binary" || t == "varbinary" || t == "image" || t == "blob") return ColumnKind::Binary;
  if (t == "char" || t == "varchar" || t == "nchar" || t == "nvarchar" || t == "text" ||
      t == "ntext" || t == "uniqueidentifier" || t == "sysname" || t == "xml") {
    return ColumnKind::Text;
  }
  return ColumnKind::Storage;
}

Value ReadColumn(sqlite3_stmt* st, int i, ColumnKind kind) {
  const int storage = sqlite3_column_type(st, i);
  if (storage == SQLITE_NULL) return Value::Null();
  switch (kind) {
    case ColumnKind::Storage:
      break;
    case ColumnKind::Bit:
      if (storage == SQLITE_INTEGER) return Value::Bit(sqlite3_column_int64(st, i) != 0);
      if (storage == SQLITE_FLOAT) return Value::Bit(sqlite3_column_double(st, i) != 0.0);
      if (storage == SQLITE_TEXT) return BitFromText(TextOf(st, i));
      break;
    case ColumnKind::Integer:
      if (storage == SQLITE_INTEGER) return Value::Integer(sqlite3_column_int64(st, i));
      break;
    case ColumnKind::Float:
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT) {
        return Value::Float(sqlite3_column_double(st, i));
      }
      break;
    case ColumnKind::DateTime:
      if (storage == SQLITE_TEXT) {
        std::string_view t = TextOf(st, i);
        if (auto d = DateTime::Parse(t)) return Value::Date(*d);
        return Value::Text(std::string(t));
      }
      break;
    case ColumnKind::Binary:
      if (storage == SQLITE_BLOB || storage == SQLITE_TEXT) return Value::Binary(BytesOf(st, i));
      break;
    case ColumnKind::Text:
      return Value::Text(std::string(TextOf(st, i)));
  }
  return ByStorage(st, i);
}

}  // namespace pv::db::embedded
