#include "db/tsql/emitter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include "db/error.h"

namespace pv::db::tsql {
namespace {

// Upper-case, sorted: T-SQL's reserved keywords.
constexpr std::string_view kReserved[] = {
    "ADD",
    "ALL",
    "ALTER",
    "AND",
    "ANY",
    "AS",
    "ASC",
    "AUTHORIZATION",
    "BACKUP",
    "BEGIN",
    "BETWEEN",
    "BREAK",
    "BROWSE",
    "BULK",
    "BY",
    "CASCADE",
    "CASE",
    "CHECK",
    "CHECKPOINT",
    "CLOSE",
    "CLUSTERED",
    "COALESCE",
    "COLLATE",
    "COLUMN",
    "COMMIT",
    "COMPUTE",
    "CONSTRAINT",
    "CONTAINS",
    "CONTAINSTABLE",
    "CONTINUE",
    "CONVERT",
    "CREATE",
    "CROSS",
    "CURRENT",
    "CURRENT_DATE",
    "CURRENT_TIME",
    "CURRENT_TIMESTAMP",
    "CURRENT_USER",
    "CURSOR",
    "DATABASE",
    "DBCC",
    "DEALLOCATE",
    "DECLARE",
    "DEFAULT",
    "DELETE",
    "DENY",
    "DESC",
    "DISK",
    "DISTINCT",
    "DISTRIBUTED",
    "DOUBLE",
    "DROP",
    "DUMP",
    "ELSE",
    "END",
    "ERRLVL",
    "ESCAPE",
    "EXCEPT",
    "EXEC",
    "EXECUTE",
    "EXISTS",
    "EXIT",
    "EXTERNAL",
    "FETCH",
    "FILE",
    "FILLFACTOR",
    "FOR",
    "FOREIGN",
    "FREETEXT",
    "FREETEXTTABLE",
    "FROM",
    "FULL",
    "FUNCTION",
    "GOTO",
    "GRANT",
    "GROUP",
    "HAVING",
    "HOLDLOCK",
    "IDENTITY",
    "IDENTITYCOL",
    "IDENTITY_INSERT",
    "IF",
    "IN",
    "INDEX",
    "INNER",
    "INSERT",
    "INTERSECT",
    "INTO",
    "IS",
    "JOIN",
    "KEY",
    "KILL",
    "LEFT",
    "LIKE",
    "LINENO",
    "LOAD",
    "MERGE",
    "NATIONAL",
    "NOCHECK",
    "NONCLUSTERED",
    "NOT",
    "NULL",
    "NULLIF",
    "OF",
    "OFF",
    "OFFSETS",
    "ON",
    "OPEN",
    "OPENDATASOURCE",
    "OPENQUERY",
    "OPENROWSET",
    "OPENXML",
    "OPTION",
    "OR",
    "ORDER",
    "OUTER",
    "OVER",
    "PERCENT",
    "PIVOT",
    "PLAN",
    "PRECISION",
    "PRIMARY",
    "PRINT",
    "PROC",
    "PROCEDURE",
    "PUBLIC",
    "RAISERROR",
    "READ",
    "READTEXT",
    "RECONFIGURE",
    "REFERENCES",
    "REPLICATION",
    "RESTORE",
    "RESTRICT",
    "RETURN",
    "REVERT",
    "REVOKE",
    "RIGHT",
    "ROLLBACK",
    "ROWCOUNT",
    "ROWGUIDCOL",
    "RULE",
    "SAVE",
    "SCHEMA",
    "SECURITYAUDIT",
    "SELECT",
    "SESSION_USER",
    "SET",
    "SETUSER",
    "SHUTDOWN",
    "SOME",
    "STATISTICS",
    "SYSTEM_USER",
    "TABLE",
    "TABLESAMPLE",
    "TEXTSIZE",
    "THEN",
    "TO",
    "TOP",
    "TRAN",
    "TRANSACTION",
    "TRIGGER",
    "TRUNCATE",
    "TRY_CONVERT",
    "TSEQUAL",
    "UNION",
    "UNIQUE",
    "UNPIVOT",
    "UPDATE",
    "UPDATETEXT",
    "USE",
    "USER",
    "VALUES",
    "VARYING",
    "VIEW",
    "WAITFOR",
    "WHEN",
    "WHERE",
    "WHILE",
    "WITH",
    "WITHIN",
    "WRITETEXT",
};
static_assert(std::is_sorted(std::begin(kReserved), std::end(kReserved)));

int CompareUpper(std::string_view a, std::string_view upper) {
  const size_t n = std::min(a.size(), upper.size());
  for (size_t i = 0; i < n; ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != upper[i])
      return static_cast<unsigned char>(c) < static_cast<unsigned char>(upper[i]) ? -1 : 1;
  }
  if (a.size() == upper.size()) return 0;
  return a.size() < upper.size() ? -1 : 1;
}

bool IsComparison(const Token& t) {
  if (t.kind != TokKind::Op) return false;
  const std::string_view s = t.text;
  return s == "=" || s == "<>" || s == "!=" || s == "<" || s == ">" || s == "<=" || s == ">=" ||
         s == "!<" || s == "!>";
}

// Reserved words that still begin an expression operand.
bool IsOperandKeyword(const Token& t, bool followedByParen) {
  if (IsWord(t, "NULL") || IsWord(t, "CASE") || IsWord(t, "CURRENT_TIMESTAMP")) return true;
  if (!followedByParen) return false;
  return IsWord(t, "CONVERT") || IsWord(t, "TRY_CONVERT") || IsWord(t, "COALESCE") ||
         IsWord(t, "NULLIF") || IsWord(t, "LEFT") || IsWord(t, "RIGHT");
}

constexpr std::string_view kLocalNow = "strftime('%Y-%m-%d %H:%M:%f','now','localtime')";
constexpr std::string_view kUtcNow = "strftime('%Y-%m-%d %H:%M:%f','now')";

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return r;
}

}  // namespace

void SyntaxError(const Token& near) {
  throw DbError(102, "Incorrect syntax near '" + std::string(near.text) + "'.");
}

void Unsupported(const std::string& what) {
  throw DbError(kErrUnsupported, what + " is not supported by the embedded engine.");
}

bool IsReservedWord(const Token& t) {
  if (t.kind != TokKind::Word) return false;
  size_t lo = 0, hi = std::size(kReserved);
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    const int c = CompareUpper(t.text, kReserved[mid]);
    if (c == 0) return true;
    if (c < 0) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return false;
}

void Emitter::Append(std::string& out, std::string_view text) {
  if (text.empty()) return;
  if (!out.empty()) {
    const char last = out.back();
    const char first = text.front();
    if (!(last == '(' || last == '.' || last == ' ' || first == ')' || first == ',' ||
          first == '.' || first == '(')) {
      out.push_back(' ');
    }
  }
  out.append(text);
}

void Emitter::EmitToken(size_t i, std::string& out) const {
  const Token& k = t_[i];
  switch (k.kind) {
    case TokKind::Quoted:
      Append(out, QuoteName(NameOf(k)));
      return;
    case TokKind::NString:
      Append(out, k.text.substr(1));
      return;
    case TokKind::Hex: {
      std::string h = "X'";
      std::string_view digits = k.text.substr(2);
      if (digits.size() % 2 == 1) h.push_back('0');
      h.append(digits);
      h.push_back('\'');
      Append(out, h);
      return;
    }
    case TokKind::Op:
      if (k.text == "!<") {
        Append(out, ">=");
      } else if (k.text == "!>") {
        Append(out, "<=");
      } else {
        Append(out, k.text);
      }
      return;
    case TokKind::Word:
      if (k.text[0] == '@' && k.text.size() > 1) {
        if (IsWord(k, "@@IDENTITY")) {
          Append(out, "last_insert_rowid()");
        } else if (IsWord(k, "@@ROWCOUNT")) {
          Append(out, "changes()");
        } else if (k.text[1] == '@') {
          Unsupported("The system function " + std::string(k.text));
        } else {
          throw DbError(137, "Must declare the scalar variable \"" + std::string(k.text) + "\".");
        }
        return;
      }
      if (IsWord(k, "CURRENT_TIMESTAMP")) {
        Append(out, kLocalNow);
        return;
      }
      Append(out, k.text);
      return;
    case TokKind::Go:
    case TokKind::Semi:
      return;
    default:
      Append(out, k.text);
      return;
  }
}

std::vector<Range> Emitter::SplitCommas(size_t b, size_t e) const {
  std::vector<Range> parts;
  size_t start = b;
  for (size_t i = b; i < e; ++i) {
    if (IsOp(t_[i], "(")) {
      i = match_[i];
    } else if (IsOp(t_[i], ",")) {
      parts.push_back({start, i});
      start = i + 1;
    }
  }
  if (start < e || !parts.empty()) parts.push_back({start, e});
  return parts;
}

size_t Emitter::FindWord(size_t b, size_t e, std::string_view keyword) const {
  for (size_t i = b; i < e; ++i) {
    if (IsOp(t_[i], "(")) {
      i = match_[i];
    } else if (IsWord(t_[i], keyword)) {
      return i;
    }
  }
  return e;
}

size_t Emitter::ObjectName(size_t b, size_t e, std::string* name) const {
  size_t i = b;
  if (i >= e ||
      !(t_[i].kind == TokKind::Quoted || (t_[i].kind == TokKind::Word && !IsReservedWord(t_[i])))) {
    return b;
  }
  *name = NameOf(t_[i]);
  ++i;
  while (i + 1 < e && IsOp(t_[i], ".") &&
         (t_[i + 1].kind == TokKind::Word || t_[i + 1].kind == TokKind::Quoted)) {
    *name = NameOf(t_[i + 1]);
    i += 2;
  }
  return i;
}

void Emitter::ScanTables(size_t b, size_t e) {
  tables_.clear();
  for (size_t i = b; i < e; ++i) {
    const Token& k = t_[i];
    if (k.kind != TokKind::Word) continue;
    if (!(IsWord(k, "FROM") || IsWord(k, "JOIN") || IsWord(k, "UPDATE") || IsWord(k, "INTO"))) {
      continue;
    }
    size_t j = i + 1;
    for (;;) {
      std::string table;
      const size_t after = ObjectName(j, e, &table);
      if (after == j) break;
      tables_.push_back({ToLower(table), table});
      j = after;
      if (j < e && IsWord(t_[j], "AS")) ++j;
      if (j < e && (t_[j].kind == TokKind::Quoted ||
                    (t_[j].kind == TokKind::Word && !IsReservedWord(t_[j])))) {
        tables_.push_back({ToLower(NameOf(t_[j])), table});
        ++j;
      }
      if (j < e && IsWord(t_[j], "WITH") && j + 1 < e && IsOp(t_[j + 1], "(")) {
        j = match_[j + 1] + 1;
      }
      if (j < e && IsOp(t_[j], ",") && !IsWord(k, "INTO") && !IsWord(k, "UPDATE")) {
        ++j;
        continue;
      }
      break;
    }
  }
}

const Emitter::TableShape* Emitter::Defined(const std::string& table) const {
  for (const auto& [name, shape] : defined_) {
    if (EqualsNoCase(name, table)) return &shape;
  }
  return nullptr;
}

void Emitter::DefineTable(const std::string& table, TableShape shape) {
  for (auto& [name, old] : defined_) {
    if (EqualsNoCase(name, table)) {
      old = std::move(shape);
      return;
    }
  }
  defined_.push_back({ToLower(table), std::move(shape)});
}

void Emitter::AddColumn(const std::string& table, const std::string& column,
                        const std::string& type) {
  if (!Defined(table)) {
    TableShape shape;
    shape.columns = schema_.Columns(table);
    for (const std::string& c : shape.columns) shape.types.push_back(schema_.ColumnType(table, c));
    shape.identity = schema_.IdentityColumn(table);
    DefineTable(table, std::move(shape));
  }
  for (auto& [name, shape] : defined_) {
    if (EqualsNoCase(name, table)) {
      shape.columns.push_back(column);
      shape.types.push_back(type);
    }
  }
}

std::string Emitter::ColumnType(const std::string& table, const std::string& column) const {
  if (defined_.empty()) return schema_.ColumnType(table, column);
  if (const TableShape* shape = Defined(table)) {
    for (size_t i = 0; i < shape->columns.size(); ++i) {
      if (EqualsNoCase(shape->columns[i], column)) return shape->types[i];
    }
    return {};
  }
  return schema_.ColumnType(table, column);
}

std::vector<std::string> Emitter::ColumnTypes(const std::string& table,
                                              const std::vector<std::string>& columns) const {
  if (!Defined(table)) return schema_.ColumnTypes(table, columns);
  std::vector<std::string> types;
  types.reserve(columns.size());
  for (const std::string& c : columns) types.push_back(ColumnType(table, c));
  return types;
}

std::string Emitter::IdentityColumn(const std::string& table) const {
  if (const TableShape* shape = Defined(table)) return shape->identity;
  return schema_.IdentityColumn(table);
}

std::vector<std::string> Emitter::Columns(const std::string& table) const {
  if (const TableShape* shape = Defined(table)) return shape->columns;
  return schema_.Columns(table);
}

std::string Emitter::TableOf(const std::string& qualifier) const {
  const std::string q = ToLower(qualifier);
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
    return ColumnType(TableOf(NameOf(t_[e - 3])), column);
  }
  for (const auto& [alias, table] : tables_) {
    if (alias != ToLower(table)) continue;  // aliases name the same tables again
    std::string type = ColumnType(table, column);
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

bool Emitter::EmitTypedLiteral(size_t b, size_t e, TypeClass cls, std::string& out) {
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
        double v = 0;
        std::int64_t iv = 0;
        bool isInt = false;
        ParseNumber(lit.text, &v, &iv, &isInt);
        Append(out, v != 0 ? "1" : "0");
        return true;
      }
      return false;
    }
    case TypeClass::DateTime: {
      if (isText) {
        auto stored = StoredDateTimeFromText(StringValue(lit));
        if (!stored) {
          throw DbError(241,
                        "Conversion failed when converting date and/or time from character "
                        "string.");
        }
        Append(out, QuoteText(*stored));
        return true;
      }
      if (lit.kind == TokKind::Number) {
        double v = 0;
        std::int64_t iv = 0;
        bool isInt = false;
        ParseNumber(lit.text, &v, &iv, &isInt);
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
        return false;
      }
      if (cls == TypeClass::Integer && lit.kind == TokKind::Number &&
          lit.text.find_first_of(".eE") != std::string_view::npos) {
        double v = 0;
        std::int64_t iv = 0;
        bool isInt = false;
        ParseNumber(lit.text, &v, &iv, &isInt);
        v = std::trunc(negative ? -v : v);
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

bool Emitter::StartsOperand(size_t i, size_t e) const {
  if (i >= e) return false;
  const Token& k = t_[i];
  switch (k.kind) {
    case TokKind::String:
    case TokKind::NString:
    case TokKind::Number:
    case TokKind::Hex:
    case TokKind::Quoted:
      return true;
    case TokKind::Word:
      if (!IsReservedWord(k)) return true;
      return IsOperandKeyword(k, i + 1 < e && IsOp(t_[i + 1], "("));
    case TokKind::Op:
      if (k.text == "(") return true;
      if (k.text == "-" || k.text == "+" || k.text == "~") return StartsOperand(i + 1, e);
      return false;
    default:
      return false;
  }
}

size_t Emitter::ParsePrimary(size_t i, size_t e) const {
  if (i >= e) return i;
  const Token& k = t_[i];
  size_t j = i;
  switch (k.kind) {
    case TokKind::String:
    case TokKind::NString:
    case TokKind::Number:
    case TokKind::Hex:
      j = i + 1;
      break;
    case TokKind::Op:
      if (k.text != "(") return i;
      j = match_[i] + 1;
      break;
    case TokKind::Word:
    case TokKind::Quoted: {
      const bool paren = i + 1 < e && IsOp(t_[i + 1], "(");
      if (IsWord(k, "CASE")) {
        int depth = 0;
        for (j = i; j < e; ++j) {
          if (IsOp(t_[j], "(")) {
            j = match_[j];
          } else if (IsWord(t_[j], "CASE")) {
            ++depth;
          } else if (IsWord(t_[j], "END")) {
            if (--depth == 0) break;
          }
        }
        if (j >= e) SyntaxError(t_[e - 1]);
        j = j + 1;
        break;
      }
      if (IsReservedWord(k)) {
        if (!IsOperandKeyword(k, paren)) return i;
        j = paren ? match_[i + 1] + 1 : i + 1;
        break;
      }
      j = i + 1;
      while (j + 1 < e && IsOp(t_[j], ".")) {
        if (t_[j + 1].kind == TokKind::Word || t_[j + 1].kind == TokKind::Quoted) {
          j += 2;
        } else if (IsOp(t_[j + 1], "*")) {
          j += 2;
          break;
        } else {
          break;
        }
      }
      if (j < e && IsOp(t_[j], "(")) j = match_[j] + 1;
      break;
    }
    default:
      return i;
  }
  if (j + 1 < e && IsWord(t_[j], "COLLATE")) j += 2;
  return j;
}

size_t Emitter::ParseTerm(size_t i, size_t e) const {
  size_t j = i;
  while (j < e && (IsOp(t_[j], "-") || IsOp(t_[j], "+") || IsOp(t_[j], "~"))) ++j;
  size_t p = ParsePrimary(j, e);
  if (p == j) return i;
  while (p < e && (IsOp(t_[p], "*") || IsOp(t_[p], "/") || IsOp(t_[p], "%"))) {
    size_t q = p + 1;
    while (q < e && (IsOp(t_[q], "-") || IsOp(t_[q], "+") || IsOp(t_[q], "~"))) ++q;
    const size_t r = ParsePrimary(q, e);
    if (r == q) break;
    p = r;
  }
  return p;
}

Emitter::Kind Emitter::OperandKind(size_t b, size_t e) const {
  if (e - b == 1) {
    const Token& k = t_[b];
    if (k.kind == TokKind::String || k.kind == TokKind::NString) return Kind::Text;
    if (k.kind == TokKind::Number) return Kind::Number;
    if (IsWord(k, "NULL")) return Kind::Null;
  }
  if (IsLiteral(b, e)) return Kind::Number;
  if (IsColumnRef(b, e)) {
    switch (ClassOf(ColumnTypeOf(b, e))) {
      case TypeClass::Text:
        return Kind::Text;
      case TypeClass::Integer:
      case TypeClass::Bit:
      case TypeClass::Decimal:
      case TypeClass::Float:
        return Kind::Number;
      case TypeClass::DateTime:
        return Kind::Date;
      default:
        return Kind::Unknown;
    }
  }
  // A function call: a few known result kinds.
  if (b + 1 < e && t_[b].kind == TokKind::Word && IsOp(t_[b + 1], "(") && match_[b + 1] + 1 == e) {
    const std::string name = Upper(t_[b].text);
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
        switch (ClassOf(ToLower(NameOf(t_[typeAt])))) {
          case TypeClass::Text:
            return Kind::Text;
          case TypeClass::Integer:
          case TypeClass::Bit:
          case TypeClass::Decimal:
          case TypeClass::Float:
            return Kind::Number;
          default:
            return Kind::Unknown;
        }
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

size_t Emitter::EmitChain(size_t i, size_t e, std::string& out) {
  const size_t firstEnd = ParseTerm(i, e);
  if (firstEnd == i) {
    EmitToken(i, out);
    return i + 1;
  }
  std::vector<Range> terms{{i, firstEnd}};
  std::vector<size_t> ops;
  size_t te = firstEnd;
  while (te < e && (IsOp(t_[te], "+") || IsOp(t_[te], "-"))) {
    const size_t next = ParseTerm(te + 1, e);
    if (next == te + 1) break;
    ops.push_back(te);
    terms.push_back({te + 1, next});
    te = next;
  }
  if (ops.empty()) {
    size_t after = te;
    if (TryTypedPredicate(i, te, e, out, &after)) return after;
    EmitTerm(i, te, out);
    return te;
  }
  bool hasPlus = false;
  bool hasMinus = false;
  for (size_t op : ops) {
    if (IsOp(t_[op], "+")) {
      hasPlus = true;
    } else {
      hasMinus = true;
    }
  }
  bool allNumbers = true;
  bool allText = true;
  for (const Range& r : terms) {
    const Kind k = OperandKind(r.first, r.second);
    if (k != Kind::Number && k != Kind::Null) allNumbers = false;
    if (k != Kind::Text && k != Kind::Null) allText = false;
  }
  if (!hasPlus || allNumbers) {
    for (size_t n = 0; n < terms.size(); ++n) {
      if (n > 0) EmitToken(ops[n - 1], out);
      EmitTerm(terms[n].first, terms[n].second, out);
    }
    return te;
  }
  std::vector<std::string> parts;
  parts.reserve(terms.size());
  for (const Range& r : terms) {
    std::string s;
    EmitTerm(r.first, r.second, s);
    parts.push_back(std::move(s));
  }
  std::string acc;
  if (allText && !hasMinus) {
    // Text + text: concatenation (Null stays Null, as with SQL Server's
    // default CONCAT_NULL_YIELDS_NULL).
    acc = "(";
    for (size_t n = 0; n < parts.size(); ++n) {
      if (n > 0) acc += " || ";
      acc += "(" + parts[n] + ")";
    }
    acc += ")";
  } else {
    // Decided per row: pv_add concatenates text and adds numbers.
    acc = parts[0];
    for (size_t n = 1; n < parts.size(); ++n) {
      if (IsOp(t_[ops[n - 1]], "+")) {
        acc = "pv_add(" + acc + ", " + parts[n] + ")";
      } else {
        acc = "(" + acc + ") - (" + parts[n] + ")";
      }
    }
  }
  Append(out, acc);
  return te;
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
    const TypeClass cls = ClassOf(ColumnTypeOf(column.first, column.second));
    if (cls == TypeClass::Unknown || cls == TypeClass::Text) return false;
    std::string lit;
    if (!EmitTypedLiteral(literal.first, literal.second, cls, lit)) return false;
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
  const TypeClass cls = ClassOf(ColumnTypeOf(tb, te));
  if (cls == TypeClass::Unknown || cls == TypeClass::Text) return false;
  auto emitValue = [&](size_t b, size_t v) {
    if (!EmitTypedLiteral(b, v, cls, out)) Emit(b, v, out);
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

void Emitter::EmitTerm(size_t b, size_t e, std::string& out) {
  size_t j = b;
  while (j < e) {
    const size_t p = ParsePrimary(j, e);
    if (p > j) {
      EmitPrimary(j, p, out);
      j = p;
    } else {
      EmitToken(j, out);
      ++j;
    }
  }
}

void Emitter::EmitPrimary(size_t b, size_t e, std::string& out) {
  size_t end = e;
  bool collate = false;
  if (e - b >= 3 && IsWord(t_[e - 2], "COLLATE")) {
    end = e - 2;
    collate = true;
  }
  const Token& k = t_[b];
  if (IsOp(k, "(")) {
    Append(out, "(");
    Emit(b + 1, match_[b], out);
    Append(out, ")");
  } else if (IsWord(k, "CASE")) {
    Append(out, "CASE");
    Emit(b + 1, end - 1, out);
    Append(out, "END");
  } else if ((k.kind == TokKind::Word || k.kind == TokKind::Quoted) && end - b >= 2 &&
             IsOp(t_[end - 1], ")") && IsOp(t_[match_[end - 1]], "(") && match_[end - 1] > b) {
    EmitFunction(b, match_[end - 1], out);
  } else if (k.kind == TokKind::Word || k.kind == TokKind::Quoted) {
    if (end - b == 1) {
      EmitToken(b, out);
    } else {
      EmitNameChain(b, end, out);
    }
  } else {
    for (size_t i = b; i < end; ++i) EmitToken(i, out);
  }
  if (collate) {
    Append(out, "COLLATE");
    const std::string name = Upper(NameOf(t_[e - 1]));
    Append(out, name.find("_CS") != std::string::npos || name.find("BIN") != std::string::npos
                    ? "BINARY"
                    : "NOCASE");
  }
}

void Emitter::EmitNameChain(size_t b, size_t e, std::string& out) const {
  std::vector<size_t> parts;
  bool star = false;
  for (size_t i = b; i < e; i += 2) {
    if (IsOp(t_[i], "*")) {
      star = true;
      break;
    }
    parts.push_back(i);
  }
  // Drop the schema "dbo" (a.dbo.b keeps a, the database).
  std::vector<size_t> kept;
  for (size_t n = 0; n < parts.size(); ++n) {
    const bool last = n + 1 == parts.size() && !star;
    if (!last && EqualsNoCase(NameOf(t_[parts[n]]), "dbo")) continue;
    kept.push_back(parts[n]);
  }
  std::string text;
  size_t n = 0;
  if (kept.size() >= 2 && !(kept.size() == 2 && star)) {
    const std::string first = NameOf(t_[kept[0]]);
    if (EqualsNoCase(first, "INFORMATION_SCHEMA")) {
      text = QuoteName("INFORMATION_SCHEMA." + Upper(NameOf(t_[kept[1]])));
      n = 2;
    } else if (EqualsNoCase(first, "sys")) {
      text = QuoteName("sys." + ToLower(NameOf(t_[kept[1]])));
      n = 2;
    }
  }
  for (; n < kept.size(); ++n) {
    if (!text.empty()) text.push_back('.');
    const Token& k = t_[kept[n]];
    if (k.kind == TokKind::Quoted) {
      text += QuoteName(NameOf(k));
    } else {
      text.append(k.text);
    }
  }
  if (star) text += text.empty() ? "*" : ".*";
  Append(out, text);
}

void Emitter::EmitFunction(size_t b, size_t open, std::string& out) {
  const size_t close = match_[open];
  const std::string name = Upper(NameOf(t_[open - 1]));
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
  const std::string typeName = ToLower(NameOf(t_[type.first]));
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
  std::string e;
  Emit(expr.first, expr.second, e);
  std::string r;
  switch (ClassOf(typeName)) {
    case TypeClass::Text:
      r = "CAST((" + e + ") AS TEXT)";
      if (length == -2) length = 30;
      if (length >= 0) r = "substr(" + r + ", 1, " + std::to_string(length) + ")";
      break;
    case TypeClass::Integer:
      r = "CAST((" + e + ") AS INTEGER)";
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
        r = "CAST(round(CAST((" + e + ") AS REAL)) AS INTEGER)";
      } else {
        r = "round(CAST((" + e + ") AS REAL), " + std::to_string(scale) + ")";
      }
      break;
    case TypeClass::Float:
      r = "CAST((" + e + ") AS REAL)";
      break;
    case TypeClass::Binary:
      r = "CAST((" + e + ") AS BLOB)";
      break;
    default:
      Unsupported("Conversion to " + typeName);
  }
  Append(out, r);
}

size_t Emitter::ParseTop(size_t i, size_t e, std::string* limit) {
  size_t j = i + 1;
  if (j >= e) SyntaxError(t_[i]);
  std::string value;
  bool hundred = false;
  if (IsOp(t_[j], "(")) {
    const size_t close = match_[j];
    hundred = close == j + 2 && t_[j + 1].kind == TokKind::Number && t_[j + 1].text == "100";
    Emit(j + 1, close, value);
    value = "(" + value + ")";
    j = close + 1;
  } else if (t_[j].kind == TokKind::Number) {
    hundred = t_[j].text == "100";
    value = std::string(t_[j].text);
    ++j;
  } else {
    SyntaxError(t_[j]);
  }
  if (j < e && IsWord(t_[j], "PERCENT")) {
    if (!hundred) Unsupported("TOP with a PERCENT other than 100");
    value.clear();
    ++j;
  }
  if (j + 1 < e && IsWord(t_[j], "WITH") && IsWord(t_[j + 1], "TIES")) {
    Unsupported("TOP ... WITH TIES");
  }
  *limit = value;
  return j;
}

size_t Emitter::JoinOperatorEnd(size_t i, size_t e) const {
  size_t j = i;
  if (j < e && (IsWord(t_[j], "INNER") || IsWord(t_[j], "CROSS"))) {
    ++j;
  } else if (j < e && (IsWord(t_[j], "LEFT") || IsWord(t_[j], "RIGHT") || IsWord(t_[j], "FULL"))) {
    ++j;
    if (j < e && IsWord(t_[j], "OUTER")) ++j;
  }
  if (j < e && IsWord(t_[j], "JOIN")) return j + 1;
  return i;
}

size_t Emitter::SourceEnd(size_t i, size_t e) const {
  if (i >= e) return i;
  size_t j = i;
  if (IsOp(t_[j], "(")) {
    j = match_[j] + 1;
  } else {
    std::string name;
    j = ObjectName(i, e, &name);
    if (j == i) return i;
    if (j < e && IsOp(t_[j], "(")) j = match_[j] + 1;  // table-valued function
  }
  if (j < e && IsWord(t_[j], "AS")) ++j;
  if (j < e &&
      (t_[j].kind == TokKind::Quoted || (t_[j].kind == TokKind::Word && !IsReservedWord(t_[j])))) {
    ++j;
  }
  if (j + 1 < e && IsWord(t_[j], "WITH") && IsOp(t_[j + 1], "(")) j = match_[j + 1] + 1;
  return j;
}

size_t Emitter::ConditionEnd(size_t i, size_t e) const {
  size_t j = i;
  while (j < e) {
    if (IsOp(t_[j], "(")) {
      j = match_[j] + 1;
      continue;
    }
    if (IsWord(t_[j], "ON") || IsOp(t_[j], ",") || JoinOperatorEnd(j, e) != j) return j;
    ++j;
  }
  return j;
}

size_t Emitter::JoinedEnd(size_t i, size_t e) {
  size_t j = SourceEnd(i, e);
  if (j == i) return i;
  for (;;) {
    const size_t op = JoinOperatorEnd(j, e);
    if (op == j) return j;
    const bool cross = IsWord(t_[j], "CROSS");
    size_t right = SourceEnd(op, e);
    if (right == op) return j;
    if (!cross && JoinOperatorEnd(right, e) != right) {
      // The right side is itself a join whose ON comes first.
      right = JoinedEnd(op, e);
      parens_.push_back({op, '('});
      parens_.push_back({right, ')'});
    }
    j = right;
    if (!cross && j < e && IsWord(t_[j], "ON")) j = ConditionEnd(j + 1, e);
  }
}

void Emitter::PlanJoinParens(size_t b, size_t e) {
  size_t j = b;
  while (j < e) {
    const size_t next = JoinedEnd(j, e);
    if (next == j || next >= e || !IsOp(t_[next], ",")) return;
    j = next + 1;
  }
}

void Emitter::Emit(size_t b, size_t e, std::string& out) {
  std::string limit;
  size_t i = b;
  while (i < e) {
    const Token& k = t_[i];
    if (!parens_.empty()) {
      for (const auto& [at, paren] : parens_) {
        if (at == i) Append(out, paren == '(' ? "(" : ")");
      }
    }
    if (k.kind == TokKind::Word) {
      if (IsWord(k, "FROM")) {
        size_t end = i + 1;
        while (end < e && !(IsWord(t_[end], "WHERE") || IsWord(t_[end], "GROUP") ||
                            IsWord(t_[end], "ORDER") || IsWord(t_[end], "HAVING") ||
                            IsWord(t_[end], "UNION") || IsWord(t_[end], "EXCEPT") ||
                            IsWord(t_[end], "INTERSECT") || IsWord(t_[end], "OPTION"))) {
          end = IsOp(t_[end], "(") ? match_[end] + 1 : end + 1;
        }
        PlanJoinParens(i + 1, end);
      }
      if (IsWord(k, "SELECT")) {
        Append(out, "SELECT");
        ++i;
        if (i < e && (IsWord(t_[i], "DISTINCT") || IsWord(t_[i], "ALL"))) {
          EmitToken(i, out);
          ++i;
        }
        if (i < e && IsWord(t_[i], "TOP")) i = ParseTop(i, e, &limit);
        continue;
      }
      if (IsWord(k, "UNION") || IsWord(k, "EXCEPT") || IsWord(k, "INTERSECT")) {
        if (!limit.empty()) Unsupported("TOP in a SELECT followed by " + Upper(k.text));
        EmitToken(i, out);
        ++i;
        continue;
      }
      if (IsWord(k, "WITH") && i + 2 < e && IsOp(t_[i + 1], "(") &&
          (IsWord(t_[i + 2], "NOLOCK") || IsWord(t_[i + 2], "READUNCOMMITTED") ||
           IsWord(t_[i + 2], "ROWLOCK") || IsWord(t_[i + 2], "UPDLOCK") ||
           IsWord(t_[i + 2], "HOLDLOCK") || IsWord(t_[i + 2], "TABLOCK"))) {
        i = match_[i + 1] + 1;  // table hints: locking is SQLite's own
        continue;
      }
    }
    if (StartsOperand(i, e)) {
      i = EmitChain(i, e, out);
      continue;
    }
    EmitToken(i, out);
    ++i;
  }
  for (const auto& [at, paren] : parens_) {
    if (at == e && paren == ')') Append(out, ")");
  }
  if (!limit.empty()) {
    Append(out, "LIMIT");
    Append(out, limit);
  }
}

}  // namespace pv::db::tsql
