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
    Append(out, "last_insert_rowid()");
  } else if (name == "ISNULL") {
    need(2);
    Append(out, "ifnull(" + arg(0) + ", " + arg(1) + ")");
  } else if (name == "LEN") {
    need(1);
    Append(out, "length(rtrim(" + arg(0) + "))");
  } else if (name == "DATALENGTH") {
    need(1);
    Append(out, "length(CAST((" + arg(0) + ") AS BLOB))");
  } else if (name == "SUBSTRING") {
    need(3);
    Append(out, "substr(" + arg(0) + ", " + arg(1) + ", " + arg(2) + ")");
  } else if (name == "CHARINDEX") {
    need(2);
    Append(out, "instr(" + arg(1) + ", " + arg(0) + ")");
  } else if (name == "LEFT") {
    need(2);
    Append(out, "substr(" + arg(0) + ", 1, " + arg(1) + ")");
  } else if (name == "RIGHT") {
    need(2);
    Append(out, "substr(" + arg(0) + ", -(" + arg(1) + "))");
  } else if (name == "NEWID") {
    need(0);
    Append(out, "pv_newid()");
  } else if (name == "CONVERT" || name == "TRY_CONVERT") {
    if (args.size() < 2 || args.size() > 3) need(2);
    tryConvert_ = name == "TRY_CONVERT";
    EmitCast(args[0], args[1], out);
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
  }
}

void Emitter::EmitCast(Range type, Range expr, std::string& out) {
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
  std::string r;
  // Text that is no number fails as SQL Server fails (conversions.cc).
  auto number = [&](std::string_view type) {
    return "pv_convert(" + e + ", '" + std::string(type) + "', " + tryOnly + ")";
  };
  switch (ClassOf(typeName)) {
    case TypeClass::Text:
      r = "CAST((" + e + ") AS TEXT)";
      if (length == -2) length = 30;
      if (length >= 0) r = "substr(" + r + ", 1, " + std::to_string(length) + ")";
      break;
    case TypeClass::Integer:
      r = number(typeName);
      break;
    case TypeClass::Bit:
      r = "pv_bit(" + e + ")";
      break;
    case TypeClass::DateTime:
      r = "pv_datetime(" + e + ")";
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
