// T-SQL's built-in functions in SQLite's terms: GETDATE, SCOPE_IDENTITY,
// ISNULL, LEN, DATALENGTH, SUBSTRING, CHARINDEX, LEFT, RIGHT, NEWID, and
// CONVERT / CAST by the class of the target type.
#include <cstdlib>

#include "common/text.h"
#include "db/error.h"
#include "db/tsql/emitter.h"

namespace pv::db::tsql {

void Emitter::EmitFunction(size_t b, size_t open, std::string& out) {
  const size_t close = match_[open];
  const std::string name = common::AsciiUpper(NameOf(t_[open - 1]));
  const std::vector<Range> args = SplitCommas(open + 1, close);
  auto arg = [&](size_t n) {
    std::string s;
    Emit(args[n].first, args[n].second, s);
    return s;
  };
  auto need = [&](size_t n) {
    if (args.size() != n) {
      throw DbError(174,
                    "The " + name + " function requires " + std::to_string(n) + " argument(s).");
    }
  };
  if (name == "GETDATE" || name == "SYSDATETIME") {
    need(0);
    Append(out, kLocalNow);
  } else if (name == "GETUTCDATE" || name == "SYSUTCDATETIME") {
    need(0);
    Append(out, kUtcNow);
  } else if (name == "SCOPE_IDENTITY") {
    need(0);
    // 0: the last insert went to a table without an identity column.
    Append(out, "nullif(last_insert_rowid(), 0)");
  } else if (name == "ISNULL") {
    need(2);
    Append(out, IsNull(args[0], arg(0), args[1], arg(1)));
  } else if (name == "LEN") {
    need(1);
    Append(out, "length(rtrim(" + arg(0) + "))");
  } else if (name == "DATALENGTH") {
    need(1);
    Append(out, DataLength(args[0].first, args[0].second, arg(0)));
  } else if (name == "SUBSTRING") {
    need(3);
    Append(out, "substr(" + arg(0) + ", " + arg(1) + ", " + arg(2) + ") COLLATE NOCASE");
  } else if (name == "CHARINDEX") {
    if (args.size() != 3) need(2);
    Append(out, "pv_charindex(" + arg(0) + ", " + arg(1) +
                    (args.size() == 3 ? ", " + arg(2) : std::string()) + ")");
  } else if (name == "LEFT") {
    need(2);
    Append(out, "substr(" + arg(0) + ", 1, " + arg(1) + ") COLLATE NOCASE");
  } else if (name == "RIGHT") {
    need(2);
    Append(out, "substr(" + arg(0) + ", -(" + arg(1) + ")) COLLATE NOCASE");
  } else if (name == "NEWID") {
    need(0);
    Append(out, "pv_newid()");
  } else if (name == "CONVERT" || name == "TRY_CONVERT") {
    if (args.size() < 2 || args.size() > 3) need(2);
    tryConvert_ = name == "TRY_CONVERT";
    EmitCast(args[0], args[1], out, args.size() == 3 ? args[2] : Range{0, 0});
  } else if (name == "CAST") {
    const size_t as = FindWord(open + 1, close, "AS");
    if (as == close) SyntaxError(t_[close]);
    EmitCast({as + 1, close}, {open + 1, as}, out);
  } else {
    if (open - 1 > b) {
      EmitNameChain(b, open, out);
    } else {
      EmitToken(b, out);
    }
    Append(out, "(");
    std::string inner;
    Emit(open + 1, close, inner);
    Append(out, inner);
    Append(out, ")");
    // Text results compare as the default collation does.
    if (name == "UPPER" || name == "LOWER" || name == "LTRIM" || name == "RTRIM" ||
        name == "REPLACE") {
      Append(out, "COLLATE NOCASE");
    }
  }
}

std::string Emitter::IsNull(Range a, const std::string& first, Range b,
                            const std::string& second) const {
  const std::string plain = "ifnull(" + first + ", " + second + ")";
  if (ClassOf(ColumnTypeOf(a.first, a.second)) != TypeClass::Text) return plain;
  // The result has the type of the first argument: a replacement longer
  // than a text column's declared length is cut to it.
  const bool empty =
      b.second == b.first + 1 &&
      (t_[b.first].kind == TokKind::String || t_[b.first].kind == TokKind::NString) &&
      StringValue(t_[b.first]).empty();
  if (empty) return plain + " COLLATE NOCASE";
  std::string table;
  const std::string column = NameOf(t_[a.second - 1]);
  if (a.second - a.first >= 3) {
    table = TableOf(NameOf(t_[a.second - 3]));
  } else {
    for (const auto& [alias, name] : tables_) {
      if (alias == common::AsciiLower(name) && !schema_.ColumnType(name, column).empty()) {
        table = name;
        break;
      }
    }
  }
  if (table.empty()) return plain + " COLLATE NOCASE";
  const std::string size = "CAST(substr(type, instr(type, '(') + 1) AS INTEGER)";
  return "ifnull(" + first + ", substr(CAST((" + second + ") AS TEXT), 1, ifnull((SELECT " + size +
         " FROM pragma_table_info(" + QuoteText(table) + ") WHERE name = " + QuoteText(column) +
         " COLLATE NOCASE AND instr(type, '(') > 0 AND " + size +
         " > 0), 2147483647))) COLLATE NOCASE";
}

std::string Emitter::DataLength(size_t b, size_t e, const std::string& value) const {
  // Unicode text two bytes a character, Windows-1252 text one, fixed-size
  // types their size; 0 leaves it to the value.
  int kind = 0;
  if (e == b + 1 && t_[b].kind == TokKind::NString) kind = 2;
  if (e == b + 1 && t_[b].kind == TokKind::String) kind = 1;
  const std::string type = ColumnTypeOf(b, e);
  if (type == "nvarchar" || type == "nchar" || type == "ntext" || type == "sysname") kind = 2;
  if (type == "varchar" || type == "char" || type == "text") kind = 1;
  int fixed = 0;
  if (type == "int" || type == "real" || type == "smalldatetime") fixed = 4;
  if (type == "bigint" || type == "float" || type == "datetime" || type == "money") fixed = 8;
  if (type == "smallint") fixed = 2;
  if (type == "tinyint" || type == "bit") fixed = 1;
  if (type == "uniqueidentifier") fixed = 16;
  if (fixed > 0) {
    return "(CASE WHEN (" + value + ") IS NULL THEN NULL ELSE " + std::to_string(fixed) + " END)";
  }
  return "pv_datalength(" + value + ", " + std::to_string(kind) + ")";
}

void Emitter::EmitCast(Range type, Range expr, std::string& out, Range style) {
  if (type.first >= type.second) SyntaxError(t_[type.first]);
  const std::string typeName = common::AsciiLower(NameOf(t_[type.first]));
  long length = -2;  // -2: none given, -1: max
  long scale = -1;
  if (type.first + 1 < type.second && IsOp(t_[type.first + 1], "(")) {
    const size_t close = match_[type.first + 1];
    const auto parts = SplitCommas(type.first + 2, close);
    if (!parts.empty() && parts[0].second == parts[0].first + 1) {
      const Token& n = t_[parts[0].first];
      if (IsWord(n, "MAX")) {
        length = -1;
      } else if (n.kind == TokKind::Number) {
        length = std::atol(std::string(n.text).c_str());
      }
    }
    if (parts.size() == 2 && parts[1].second == parts[1].first + 1) {
      scale = std::atol(std::string(t_[parts[1].first].text).c_str());
    }
  }
  const std::string tryOnly = tryConvert_ ? "1" : "0";
  tryConvert_ = false;
  std::string e;
  Emit(expr.first, expr.second, e);
  std::string styleText;
  if (style.second > style.first) Emit(style.first, style.second, styleText);
  std::string r;
  // Text that is no number fails as SQL Server fails (conversions.cc).
  auto number = [&](std::string_view type) {
    return "pv_convert(" + e + ", '" + std::string(type) + "', " + tryOnly + ")";
  };
  switch (ClassOf(typeName)) {
    case TypeClass::Text:
      r = styleText.empty() ? "CAST((" + e + ") AS TEXT)"
                            : "pv_datetime_text(" + e + ", " + styleText + ")";
      if (length == -2) length = 30;
      if (length >= 0) r = "substr(" + r + ", 1, " + std::to_string(length) + ")";
      r += " COLLATE NOCASE";
      break;
    case TypeClass::Integer:
      r = number(typeName);
      break;
    case TypeClass::Bit:
      r = "pv_bit(" + e + ")";
      break;
    case TypeClass::DateTime:
      r = styleText.empty() ? "pv_datetime(" + e + ")"
                            : "pv_datetime_style(" + e + ", " + styleText + ")";
      break;
    case TypeClass::Decimal:
      if (typeName == "money" || typeName == "smallmoney") scale = 4;
      if (scale <= 0) {
        r = "CAST(round(CAST(" + number("decimal") + " AS REAL)) AS INTEGER)";
      } else {
        r = "round(CAST(" + number("decimal") + " AS REAL), " + std::to_string(scale) + ")";
      }
      break;
    case TypeClass::Float:
      r = "CAST(" + number("float") + " AS REAL)";
      break;
    case TypeClass::Binary:
      r = "CAST((" + e + ") AS BLOB)";
      break;
    default:
      Unsupported("Conversion to " + typeName);
  }
  Append(out, r);
}

}  // namespace pv::db::tsql
