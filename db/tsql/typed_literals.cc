// Typed literals: a literal that meets a bit, date-time, number or binary
// column is written as SQL Server would convert it for that column, in
// INSERT ... VALUES, SET, comparisons, IN lists and BETWEEN; and the kind of
// an operand (text, number, date) that decides what '+' means.
#include <cmath>
#include <cstdint>

#include "common/text.h"
#include "db/error.h"
#include "db/tsql/conversions.h"
#include "db/tsql/emitter.h"
#include "db/tsql/reserved_words.h"

namespace pv::db::tsql {
namespace {

bool IsComparison(const Token& t) {
  if (t.kind != TokKind::Op) return false;
  const std::string_view s = t.text;
  return s == "=" || s == "<>" || s == "!=" || s == "<" || s == ">" || s == "<=" || s == ">=" ||
         s == "!<" || s == "!>";
}

// The value of a Number token.
double NumberOf(const Token& number) {
  double v = 0;
  std::int64_t iv = 0;
  bool isInt = false;
  ParseNumber(number.text, &v, &iv, &isInt);
  return v;
}

}  // namespace

std::string Emitter::TableOf(const std::string& qualifier) const {
  const std::string q = common::AsciiLower(qualifier);
  for (const auto& [alias, table] : tables_) {
    if (alias == q) return table;
  }
  return qualifier;
}

bool Emitter::IsColumnRef(size_t b, size_t e) const {
  if (b >= e) return false;
  for (size_t i = b; i < e; ++i) {
    const bool namePos = (i - b) % 2 == 0;
    if (namePos) {
      if (!(t_[i].kind == TokKind::Quoted ||
            (t_[i].kind == TokKind::Word && !IsReservedWord(t_[i]) && t_[i].text[0] != '@'))) {
        return false;
      }
    } else if (!IsOp(t_[i], ".")) {
      return false;
    }
  }
  return (e - b) % 2 == 1;
}

std::string Emitter::ColumnTypeOf(size_t b, size_t e) const {
  if (!IsColumnRef(b, e)) return {};
  const std::string column = NameOf(t_[e - 1]);
  if (e - b >= 3) {
    return schema_.ColumnType(TableOf(NameOf(t_[e - 3])), column);
  }
  for (const auto& [alias, table] : tables_) {
    if (alias != common::AsciiLower(table)) continue;  // aliases name the same tables again
    std::string type = schema_.ColumnType(table, column);
    if (!type.empty()) return type;
  }
  return {};
}

bool Emitter::IsLiteral(size_t b, size_t e) const {
  if (e - b == 1) {
    const TokKind k = t_[b].kind;
    return k == TokKind::String || k == TokKind::NString || k == TokKind::Number ||
           k == TokKind::Hex || IsWord(t_[b], "NULL");
  }
  return e - b == 2 && IsOp(t_[b], "-") && t_[b + 1].kind == TokKind::Number;
}

bool Emitter::EmitTypedLiteral(size_t b, size_t e, TypeClass cls, std::string& out,
                               std::string_view type) {
  if (!IsLiteral(b, e) || IsWord(t_[b], "NULL")) return false;
  const bool negative = e - b == 2;
  const Token& lit = t_[e - 1];
  const bool isText = lit.kind == TokKind::String || lit.kind == TokKind::NString;
  const char* textType = lit.kind == TokKind::NString ? "nvarchar" : "varchar";
  switch (cls) {
    case TypeClass::Bit: {
      if (isText) {
        const std::string v = StringValue(lit);
        auto bit = BitFromText(v);
        if (!bit) {
          throw DbError(245, std::string("Conversion failed when converting the ") + textType +
                                 " value '" + v + "' to data type bit.");
        }
        Append(out, *bit ? "1" : "0");
        return true;
      }
      if (lit.kind == TokKind::Number) {
        Append(out, NumberOf(lit) != 0 ? "1" : "0");
        return true;
      }
      return false;
    }
    case TypeClass::DateTime: {
      if (isText) {
        auto stored = StoredDateTimeFromText(StringValue(lit));
        if (!stored) throw DateTimeTextError(StringValue(lit));
        Append(out, QuoteText(*stored));
        return true;
      }
      if (lit.kind == TokKind::Number) {
        const double v = NumberOf(lit);
        auto d = DateTimeFromDays(negative ? -v : v);
        if (!d) {
          throw DbError(8115,
                        "Arithmetic overflow error converting expression to data type "
                        "datetime.");
        }
        Append(out, QuoteText(StoredDateTime(*d)));
        return true;
      }
      return false;
    }
    case TypeClass::Integer:
    case TypeClass::Decimal:
    case TypeClass::Float: {
      if (isText) {
        const std::string v = StringValue(lit);
        if (v.find_first_not_of(" \t") == std::string::npos) {
          Append(out, "0");
          return true;
        }
        CheckNumberText(v, lit.kind == TokKind::NString, type.empty() ? "int" : type);
        // The column's affinity reads the text as a number; written without
        // the collation text literals carry, so the column's index serves.
        EmitToken(e - 1, out);
        return true;
      }
      if (cls == TypeClass::Integer && lit.kind == TokKind::Number &&
          lit.text.find_first_of(".eE") != std::string_view::npos) {
        const double v = std::trunc(negative ? -NumberOf(lit) : NumberOf(lit));
        if (!(std::fabs(v) < 9.2e18)) {
          throw DbError(8115, "Arithmetic overflow error converting numeric to data type int.");
        }
        Append(out, std::to_string(static_cast<std::int64_t>(v)));
        return true;
      }
      return false;
    }
    case TypeClass::Binary:
      if (isText) {
        throw DbError(257, std::string("Implicit conversion from data type ") + textType +
                               " to varbinary is not allowed. Use the CONVERT function to run "
                               "this query.");
      }
      return false;
    default:
      return false;
  }
}

Emitter::Kind Emitter::OperandKind(size_t b, size_t e) const {
  if (e - b == 1) {
    const Token& k = t_[b];
    if (k.kind == TokKind::String || k.kind == TokKind::NString) return Kind::Text;
    if (k.kind == TokKind::Number) return Kind::Number;
    if (IsWord(k, "NULL")) return Kind::Null;
  }
  if (IsLiteral(b, e)) return Kind::Number;
  // A column holds dates as dates; a conversion's date result is left unknown.
  auto kindOf = [](TypeClass cls, Kind dateTime) {
    switch (cls) {
      case TypeClass::Text:
        return Kind::Text;
      case TypeClass::Integer:
      case TypeClass::Bit:
      case TypeClass::Decimal:
      case TypeClass::Float:
        return Kind::Number;
      case TypeClass::DateTime:
        return dateTime;
      default:
        return Kind::Unknown;
    }
  };
  if (IsColumnRef(b, e)) return kindOf(ClassOf(ColumnTypeOf(b, e)), Kind::Date);
  // A function call: a few known result kinds.
  if (b + 1 < e && t_[b].kind == TokKind::Word && IsOp(t_[b + 1], "(") && match_[b + 1] + 1 == e) {
    const std::string name = common::AsciiUpper(t_[b].text);
    if (name == "UPPER" || name == "LOWER" || name == "LTRIM" || name == "RTRIM" ||
        name == "SUBSTRING" || name == "REPLACE" || name == "LEFT" || name == "RIGHT") {
      return Kind::Text;
    }
    if (name == "LEN" || name == "COUNT" || name == "DATALENGTH" || name == "CHARINDEX") {
      return Kind::Number;
    }
    if (name == "CONVERT" || name == "CAST") {
      const size_t typeAt = name == "CONVERT" ? b + 2 : FindWord(b + 2, e - 1, "AS") + 1;
      if (typeAt < e - 1) {
        return kindOf(ClassOf(common::AsciiLower(NameOf(t_[typeAt]))), Kind::Unknown);
      }
    }
  }
  // Arithmetic of numbers.
  bool allNumbers = true;
  bool hasOperator = false;
  for (size_t i = b; i < e; ++i) {
    if (IsOp(t_[i], "*") || IsOp(t_[i], "/") || IsOp(t_[i], "%")) {
      hasOperator = true;
    } else if (t_[i].kind != TokKind::Number && !IsOp(t_[i], "-")) {
      allNumbers = false;
    }
  }
  if (hasOperator && allNumbers) return Kind::Number;
  return Kind::Unknown;
}

bool Emitter::TryTypedPredicate(size_t tb, size_t te, size_t e, std::string& out, size_t* after) {
  if (te >= e) return false;
  const Token& op = t_[te];
  if (IsComparison(op)) {
    const size_t bb = te + 1;
    const size_t be = ParseTerm(bb, e);
    if (be == bb) return false;
    if (be < e && (IsOp(t_[be], "+") || IsOp(t_[be], "-"))) return false;
    Range column{tb, te};
    Range literal{bb, be};
    bool columnFirst = true;
    if (!(IsColumnRef(tb, te) && IsLiteral(bb, be))) {
      if (!(IsLiteral(tb, te) && IsColumnRef(bb, be))) return false;
      std::swap(column, literal);
      columnFirst = false;
    }
    const std::string type = ColumnTypeOf(column.first, column.second);
    const TypeClass cls = ClassOf(type);
    if (cls == TypeClass::Unknown || cls == TypeClass::Text) return false;
    std::string lit;
    if (!EmitTypedLiteral(literal.first, literal.second, cls, lit, type)) return false;
    if (columnFirst) {
      EmitNameChain(tb, te, out);
      EmitToken(te, out);
      Append(out, lit);
    } else {
      Append(out, lit);
      EmitToken(te, out);
      EmitNameChain(bb, be, out);
    }
    *after = be;
    return true;
  }
  if (!IsColumnRef(tb, te)) return false;
  size_t k = te;
  const bool negated = IsWord(t_[k], "NOT");
  if (negated) ++k;
  if (k >= e) return false;
  const bool isIn = IsWord(t_[k], "IN") && k + 1 < e && IsOp(t_[k + 1], "(");
  const bool isBetween = IsWord(t_[k], "BETWEEN");
  if (!isIn && !isBetween) return false;
  const std::string type = ColumnTypeOf(tb, te);
  const TypeClass cls = ClassOf(type);
  if (cls == TypeClass::Unknown || cls == TypeClass::Text) return false;
  auto emitValue = [&](size_t b, size_t v) {
    if (!EmitTypedLiteral(b, v, cls, out, type)) Emit(b, v, out);
  };
  if (isIn) {
    const size_t close = match_[k + 1];
    if (FindWord(k + 2, close, "SELECT") != close) return false;
    EmitNameChain(tb, te, out);
    if (negated) Append(out, "NOT");
    Append(out, "IN");
    Append(out, "(");
    bool first = true;
    for (const Range& r : SplitCommas(k + 2, close)) {
      if (!first) Append(out, ",");
      first = false;
      emitValue(r.first, r.second);
    }
    Append(out, ")");
    *after = close + 1;
    return true;
  }
  const size_t lowEnd = ParseTerm(k + 1, e);
  if (lowEnd == k + 1 || lowEnd >= e || !IsWord(t_[lowEnd], "AND")) return false;
  const size_t highEnd = ParseTerm(lowEnd + 1, e);
  if (highEnd == lowEnd + 1) return false;
  EmitNameChain(tb, te, out);
  if (negated) Append(out, "NOT");
  Append(out, "BETWEEN");
  emitValue(k + 1, lowEnd);
  Append(out, "AND");
  emitValue(lowEnd + 1, highEnd);
  *after = highEnd;
  return true;
}

}  // namespace pv::db::tsql
