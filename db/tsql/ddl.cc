// CREATE TABLE / INDEX / VIEW, ALTER TABLE and DROP.
//
// Tables keep SQL Server's declared types (so the engine reads bits as bits
// and date-times as date-times), text columns compare without regard to case,
// an identity column becomes SQLite's auto-incrementing rowid, and named
// CHECK constraints ("pv_len|table|column", "pv_type|...", "pv_range|...")
// reject what SQL Server's typed columns would reject; MapError turns their
// failures into SQL Server's numbers. Large binary columns are stored after
// the others, their declared order kept in comments (column_order.h).
#include <algorithm>
#include <cstdlib>

#include "common/text.h"
#include "db/error.h"
#include "db/tsql/column_order.h"
#include "db/tsql/statements.h"

namespace pv::db::tsql {
namespace {

struct ColumnDef {
  std::string name;
  std::string type;  // lower-case
  long length = -2;  // -2: none given, -1: max
  long scale = -1;
  bool identity = false;
  long seed = 1;
  long step = 1;
  bool notNull = false;
  bool primaryKey = false;
  std::string primaryKeyName;
  std::vector<std::string> constraints;  // translated
  std::string collate;                   // "NOCASE" / "BINARY", empty: the default
  std::string computed;                  // translated expression of a computed column
};

struct KeyDef {
  std::string name;
  std::vector<std::string> columns;  // as "name" ASC|DESC
  std::vector<std::string> names;    // bare column names
};

long SignedNumber(const std::vector<Token>& t, size_t b, size_t e) {
  if (e - b == 1 && t[b].kind == TokKind::Number) return std::atol(std::string(t[b].text).c_str());
  if (e - b == 2 && IsOp(t[b], "-") && t[b + 1].kind == TokKind::Number) {
    return -std::atol(std::string(t[b + 1].text).c_str());
  }
  SyntaxError(t[b < e ? b : e - 1]);
}

std::string Constraint(const std::string& name) {
  return name.empty() ? std::string() : "CONSTRAINT " + QuoteName(name) + " ";
}

// Skips the index options SQL Server allows after a key or index:
// CLUSTERED/NONCLUSTERED, WITH (...), WITH FILLFACTOR = n, ON filegroup.
size_t SkipIndexOptions(const Emitter& em, size_t k, size_t e, bool skipOn) {
  const auto& t = em.tokens();
  for (;;) {
    if (k < e && (IsWord(t[k], "CLUSTERED") || IsWord(t[k], "NONCLUSTERED"))) {
      ++k;
    } else if (k + 1 < e && IsWord(t[k], "WITH") && IsOp(t[k + 1], "(")) {
      k = em.Match(k + 1) + 1;
    } else if (k + 3 < e && IsWord(t[k], "WITH") && IsWord(t[k + 1], "FILLFACTOR")) {
      k += 4;
    } else if (skipOn && k + 1 < e && IsWord(t[k], "ON") && !IsWord(t[k + 1], "DELETE") &&
               !IsWord(t[k + 1], "UPDATE")) {
      k += 2;
      if (k < e && IsOp(t[k], "(")) k = em.Match(k) + 1;  // partition scheme (column)
    } else {
      return k;
    }
  }
}

// "(a ASC, b DESC)" at `open`.
KeyDef KeyColumns(const Emitter& em, size_t open) {
  const auto& t = em.tokens();
  KeyDef key;
  for (const Range& r : em.SplitCommas(open + 1, em.Match(open))) {
    if (r.first == r.second ||
        !(t[r.first].kind == TokKind::Word || t[r.first].kind == TokKind::Quoted)) {
      SyntaxError(t[r.first < r.second ? r.first : open]);
    }
    const std::string name = NameOf(t[r.first]);
    std::string text = QuoteName(name);
    if (r.second == r.first + 2 &&
        (IsWord(t[r.first + 1], "ASC") || IsWord(t[r.first + 1], "DESC"))) {
      text += " " + common::AsciiUpper(t[r.first + 1].text);
    } else if (r.second != r.first + 1) {
      SyntaxError(t[r.first + 1]);
    }
    key.columns.push_back(text);
    key.names.push_back(name);
  }
  return key;
}

std::string JoinKey(const KeyDef& key) {
  std::string s = "(";
  for (size_t i = 0; i < key.columns.size(); ++i) {
    if (i > 0) s += ", ";
    s += key.columns[i];
  }
  return s + ")";
}

// REFERENCES t [(cols)] [ON DELETE|UPDATE action]... [NOT FOR REPLICATION]
size_t References(Emitter& em, size_t k, size_t e, std::string* text) {
  const auto& t = em.tokens();
  std::string table;
  size_t j = em.ObjectName(k + 1, e, &table);
  if (j == k + 1) SyntaxError(t[k]);
  *text = "REFERENCES " + QuoteName(table);
  if (j < e && IsOp(t[j], "(")) {
    *text += JoinKey(KeyColumns(em, j));
    j = em.Match(j) + 1;
  }
  while (j + 1 < e && IsWord(t[j], "ON") &&
         (IsWord(t[j + 1], "DELETE") || IsWord(t[j + 1], "UPDATE"))) {
    *text += " ON " + common::AsciiUpper(t[j + 1].text);
    j += 2;
    if (j + 1 < e && IsWord(t[j], "NO") && IsWord(t[j + 1], "ACTION")) {
      *text += " NO ACTION";
      j += 2;
    } else if (j < e && IsWord(t[j], "CASCADE")) {
      *text += " CASCADE";
      ++j;
    } else if (j + 1 < e && IsWord(t[j], "SET") &&
               (IsWord(t[j + 1], "NULL") || IsWord(t[j + 1], "DEFAULT"))) {
      *text += " SET " + common::AsciiUpper(t[j + 1].text);
      j += 2;
    } else {
      SyntaxError(t[j < e ? j : e - 1]);
    }
  }
  if (j + 2 < e && IsWord(t[j], "NOT") && IsWord(t[j + 1], "FOR") &&
      IsWord(t[j + 2], "REPLICATION")) {
    j += 3;
  }
  return j;
}

// The end of a DEFAULT value starting at k.
size_t DefaultEnd(const Emitter& em, size_t k, size_t e) {
  const auto& t = em.tokens();
  if (k >= e) SyntaxError(t[e - 1]);
  if (IsOp(t[k], "(")) return em.Match(k) + 1;
  if (IsOp(t[k], "-") || IsOp(t[k], "+")) return k + 2;
  if (k + 1 < e && IsOp(t[k + 1], "(")) return em.Match(k + 1) + 1;
  return k + 1;
}

std::string DefaultText(Emitter& em, size_t b, size_t e, TypeClass cls) {
  const auto& t = em.tokens();
  // Unwrap ((0)) to 0 so literals are converted for the column.
  size_t ib = b, ie = e;
  while (ie - ib >= 2 && IsOp(t[ib], "(") && em.Match(ib) == ie - 1) {
    ++ib;
    --ie;
  }
  std::string s;
  if (em.IsLiteral(ib, ie)) {
    if (!em.EmitTypedLiteral(ib, ie, cls, s)) {
      for (size_t i = ib; i < ie; ++i) em.EmitToken(i, s);
    }
    return "DEFAULT " + s;
  }
  em.Emit(ib, ie, s);
  return "DEFAULT (" + s + ")";
}

// Parses one column definition [b, e).
ColumnDef ParseColumn(Emitter& em, size_t b, size_t e) {
  const auto& t = em.tokens();
  ColumnDef c;
  c.name = NameOf(t[b]);
  size_t k = b + 1;
  if (k < e && IsWord(t[k], "AS")) {
    // Computed column: SQLite's generated column.
    size_t end = e;
    if (IsWord(t[e - 1], "PERSISTED")) --end;
    std::string s;
    em.Emit(k + 1, end, s);
    c.computed = s;
    return c;
  }
  if (k >= e || !(t[k].kind == TokKind::Word || t[k].kind == TokKind::Quoted)) {
    SyntaxError(t[k < e ? k : e - 1]);
  }
  c.type = common::AsciiLower(NameOf(t[k]));
  ++k;
  if (k < e && IsOp(t[k], "(")) {
    const size_t close = em.Match(k);
    const auto parts = em.SplitCommas(k + 1, close);
    if (parts.empty() || parts.size() > 2) SyntaxError(t[k]);
    if (parts[0].second == parts[0].first + 1 && IsWord(t[parts[0].first], "MAX")) {
      c.length = -1;
    } else {
      c.length = SignedNumber(t, parts[0].first, parts[0].second);
    }
    if (parts.size() == 2) c.scale = SignedNumber(t, parts[1].first, parts[1].second);
    k = close + 1;
  }
  const TypeClass cls = ClassOf(c.type);
  std::string pendingName;
  while (k < e) {
    const Token& w = t[k];
    if (IsWord(w, "IDENTITY")) {
      c.identity = true;
      ++k;
      if (k < e && IsOp(t[k], "(")) {
        const size_t close = em.Match(k);
        const auto parts = em.SplitCommas(k + 1, close);
        if (parts.size() != 2) SyntaxError(t[k]);
        c.seed = SignedNumber(t, parts[0].first, parts[0].second);
        c.step = SignedNumber(t, parts[1].first, parts[1].second);
        k = close + 1;
      }
    } else if (IsWord(w, "NULL")) {
      ++k;
    } else if (IsWord(w, "NOT") && k + 1 < e && IsWord(t[k + 1], "NULL")) {
      c.notNull = true;
      k += 2;
    } else if (IsWord(w, "NOT") && k + 2 < e && IsWord(t[k + 1], "FOR") &&
               IsWord(t[k + 2], "REPLICATION")) {
      k += 3;
    } else if (IsWord(w, "CONSTRAINT") && k + 1 < e) {
      pendingName = NameOf(t[k + 1]);
      k += 2;
      continue;
    } else if (IsWord(w, "DEFAULT")) {
      const size_t end = DefaultEnd(em, k + 1, e);
      c.constraints.push_back(Constraint(pendingName) + DefaultText(em, k + 1, end, cls));
      k = end;
    } else if (IsWord(w, "PRIMARY") && k + 1 < e && IsWord(t[k + 1], "KEY")) {
      c.primaryKey = true;
      c.primaryKeyName = pendingName;
      k = SkipIndexOptions(em, k + 2, e, true);
    } else if (IsWord(w, "UNIQUE")) {
      c.constraints.push_back(Constraint(pendingName) + "UNIQUE");
      k = SkipIndexOptions(em, k + 1, e, true);
    } else if (IsWord(w, "CHECK")) {
      ++k;
      if (k + 2 < e && IsWord(t[k], "NOT") && IsWord(t[k + 1], "FOR")) k += 3;
      if (k >= e || !IsOp(t[k], "(")) SyntaxError(t[k < e ? k : e - 1]);
      std::string s;
      em.Emit(k + 1, em.Match(k), s);
      c.constraints.push_back(Constraint(pendingName) + "CHECK (" + s + ")");
      k = em.Match(k) + 1;
    } else if (IsWord(w, "FOREIGN") && k + 1 < e && IsWord(t[k + 1], "KEY")) {
      k += 2;
      continue;
    } else if (IsWord(w, "REFERENCES")) {
      std::string s;
      k = References(em, k, e, &s);
      c.constraints.push_back(Constraint(pendingName) + s);
    } else if (IsWord(w, "COLLATE") && k + 1 < e) {
      const std::string name = common::AsciiUpper(NameOf(t[k + 1]));
      c.collate = (name.find("_CS") != std::string::npos || name.find("BIN") != std::string::npos)
                      ? "BINARY"
                      : "NOCASE";
      k += 2;
    } else if (IsWord(w, "ROWGUIDCOL") || IsWord(w, "SPARSE") || IsWord(w, "FILESTREAM")) {
      ++k;
    } else {
      SyntaxError(w);
    }
    pendingName.clear();
  }
  return c;
}

std::string SqliteType(const ColumnDef& c) {
  if (c.type == "sysname") return "NVARCHAR(128)";
  std::string s = common::AsciiUpper(c.type);
  if (c.length == -1) {
    s += "(-1)";
  } else if (c.length >= 0) {
    s += "(" + std::to_string(c.length);
    if (c.scale >= 0) s += "," + std::to_string(c.scale);
    s += ")";
  }
  return s;
}

// The CHECK constraints that make a column hold only what SQL Server's type
// admits.
std::string TypeChecks(const std::string& table, const ColumnDef& c) {
  const std::string q = QuoteName(c.name);
  const std::string tag = table + "|" + c.name;
  std::string s;
  auto add = [&](const std::string& kind, const std::string& expr) {
    s += " CONSTRAINT " + QuoteName(kind + "|" + tag + "|" + c.type) + " CHECK (" + expr + ")";
  };
  switch (ClassOf(c.type)) {
    case TypeClass::Text:
      if (c.length >= 0) {
        s += " CONSTRAINT " + QuoteName("pv_len|" + tag) + " CHECK (length(" + q +
             ") <= " + std::to_string(c.length) + ")";
      }
      break;
    case TypeClass::Integer: {
      add("pv_type", q + " IS NULL OR typeof(" + q + ") = 'integer'");
      const char* range = nullptr;
      if (c.type == "int") range = "-2147483648 AND 2147483647";
      if (c.type == "smallint") range = "-32768 AND 32767";
      if (c.type == "tinyint") range = "0 AND 255";
      if (range) add("pv_range", q + " BETWEEN " + range);
      break;
    }
    case TypeClass::Bit:
      add("pv_type", q + " IN (0, 1)");
      break;
    case TypeClass::Decimal:
    case TypeClass::Float:
      add("pv_type", q + " IS NULL OR typeof(" + q + ") IN ('integer', 'real')");
      break;
    case TypeClass::DateTime:
      add("pv_type", q + " IS NULL OR (typeof(" + q + ") = 'text' AND " + q +
                         " GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] "
                         "[0-9][0-9]:[0-9][0-9]:[0-9][0-9].[0-9][0-9][0-9]')");
      break;
    case TypeClass::Binary:
      add("pv_type", q + " IS NULL OR typeof(" + q + ") = 'blob'");
      if (c.length >= 0) {
        s += " CONSTRAINT " + QuoteName("pv_len|" + tag) + " CHECK (length(" + q +
             ") <= " + std::to_string(c.length) + ")";
      }
      break;
    default:
      break;
  }
  return s;
}

// `note`: a comment written after the column's name.
std::string RenderColumn(const std::string& table, const ColumnDef& c, bool rowidKey,
                         const std::string& note = {}) {
  std::string s = QuoteName(c.name);
  if (!note.empty()) s += " " + note;
  if (!c.computed.empty()) return s + " AS (" + c.computed + ")";
  if (rowidKey) {
    s += " INTEGER PRIMARY KEY AUTOINCREMENT";
    if (c.seed != 1) s += " " + std::string(kSeedMark) + std::to_string(c.seed) + "*/";
    s += " NOT NULL";
  } else {
    s += " " + SqliteType(c);
    if (c.notNull) s += " NOT NULL";
    if (c.primaryKey) s += " " + Constraint(c.primaryKeyName) + "PRIMARY KEY";
  }
  for (const std::string& k : c.constraints) s += " " + k;
  if (ClassOf(c.type) == TypeClass::Text || c.type.empty()) {
    if (!c.type.empty()) s += " COLLATE " + (c.collate.empty() ? std::string("NOCASE") : c.collate);
  } else if (!c.collate.empty() && ClassOf(c.type) == TypeClass::Unknown) {
    s += " COLLATE " + c.collate;
  }
  if (!rowidKey) s += TypeChecks(table, c);
  return s;
}

bool IsTableConstraint(const Token& t) {
  return IsWord(t, "CONSTRAINT") || IsWord(t, "PRIMARY") || IsWord(t, "UNIQUE") ||
         IsWord(t, "FOREIGN") || IsWord(t, "CHECK");
}

}  // namespace

void TranslateCreateTable(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  std::string table;
  const size_t nameEnd = em.ObjectName(b + 2, e, &table);
  if (nameEnd == b + 2) SyntaxError(t[b + 2 < e ? b + 2 : e - 1]);
  if (nameEnd >= e || !IsOp(t[nameEnd], "(")) SyntaxError(t[nameEnd < e ? nameEnd : e - 1]);
  const size_t close = em.Match(nameEnd);
  for (size_t k = close + 1; k < e;) {
    if ((IsWord(t[k], "ON") || IsWord(t[k], "TEXTIMAGE_ON") || IsWord(t[k], "FILESTREAM_ON")) &&
        k + 1 < e) {
      k += 2;
      if (k < e && IsOp(t[k], "(")) k = em.Match(k) + 1;
    } else if (IsWord(t[k], "WITH") && k + 1 < e && IsOp(t[k + 1], "(")) {
      k = em.Match(k + 1) + 1;
    } else {
      SyntaxError(t[k]);
    }
  }
  em.ScanTables(b, b);
  em.AddTable(table);

  std::vector<ColumnDef> columns;
  std::vector<std::string> tableConstraints;
  KeyDef primaryKey;
  bool hasPrimaryKey = false;
  for (const Range& r : em.SplitCommas(nameEnd + 1, close)) {
    if (r.first == r.second) SyntaxError(t[r.first]);
    if (!IsTableConstraint(t[r.first])) {
      columns.push_back(ParseColumn(em, r.first, r.second));
      continue;
    }
    size_t k = r.first;
    std::string name;
    if (IsWord(t[k], "CONSTRAINT")) {
      if (k + 1 >= r.second) SyntaxError(t[k]);
      name = NameOf(t[k + 1]);
      k += 2;
    }
    if (k >= r.second) SyntaxError(t[r.second - 1]);
    if (IsWord(t[k], "PRIMARY") || IsWord(t[k], "UNIQUE")) {
      const bool primary = IsWord(t[k], "PRIMARY");
      k += primary ? 2 : 1;
      k = SkipIndexOptions(em, k, r.second, false);
      if (k >= r.second || !IsOp(t[k], "(")) SyntaxError(t[k < r.second ? k : r.second - 1]);
      KeyDef key = KeyColumns(em, k);
      key.name = name;
      k = SkipIndexOptions(em, em.Match(k) + 1, r.second, true);
      if (k != r.second) SyntaxError(t[k]);
      if (primary) {
        if (hasPrimaryKey) {
          throw DbError(8110,
                        "Cannot add multiple PRIMARY KEY constraints to table '" + table + "'.");
        }
        primaryKey = key;
        hasPrimaryKey = true;
      } else {
        tableConstraints.push_back(Constraint(name) + "UNIQUE " + JoinKey(key));
      }
    } else if (IsWord(t[k], "FOREIGN") && k + 2 < r.second && IsWord(t[k + 1], "KEY") &&
               IsOp(t[k + 2], "(")) {
      const KeyDef key = KeyColumns(em, k + 2);
      std::string refs;
      k = em.Match(k + 2) + 1;
      if (k >= r.second || !IsWord(t[k], "REFERENCES"))
        SyntaxError(t[k < r.second ? k : r.second - 1]);
      k = References(em, k, r.second, &refs);
      if (k != r.second) SyntaxError(t[k]);
      tableConstraints.push_back(Constraint(name) + "FOREIGN KEY " + JoinKey(key) + " " + refs);
    } else if (IsWord(t[k], "CHECK")) {
      ++k;
      if (k + 2 < r.second && IsWord(t[k], "NOT") && IsWord(t[k + 1], "FOR")) k += 3;
      if (k >= r.second || !IsOp(t[k], "(")) SyntaxError(t[k < r.second ? k : r.second - 1]);
      std::string s;
      em.Emit(k + 1, em.Match(k), s);
      tableConstraints.push_back(Constraint(name) + "CHECK (" + s + ")");
      if (em.Match(k) + 1 != r.second) SyntaxError(t[em.Match(k) + 1]);
    } else {
      SyntaxError(t[k]);
    }
  }
  if (columns.empty()) SyntaxError(t[close]);

  // Key columns of SQL Server admit no Null.
  for (ColumnDef& c : columns) {
    if (c.primaryKey) {
      if (hasPrimaryKey) {
        throw DbError(8110,
                      "Cannot add multiple PRIMARY KEY constraints to table '" + table + "'.");
      }
      c.notNull = true;
    }
    for (const std::string& k : primaryKey.names) {
      if (common::EqualsNoCase(k, c.name)) c.notNull = true;
    }
  }

  // The identity column becomes the rowid (AUTOINCREMENT: ids are never
  // reused, as with SQL Server's identity). A key on other columns then
  // stays as a UNIQUE constraint.
  ColumnDef* identity = nullptr;
  for (ColumnDef& c : columns) {
    if (!c.identity) continue;
    if (identity) {
      throw DbError(2744, "Multiple identity columns specified for table '" + table +
                              "'. Only one identity column per table is allowed.");
    }
    identity = &c;
  }
  if (identity) {
    if (identity->step != 1) Unsupported("IDENTITY with an increment other than 1");
    if (hasPrimaryKey) {
      if (!(primaryKey.names.size() == 1 &&
            common::EqualsNoCase(primaryKey.names[0], identity->name))) {
        tableConstraints.insert(tableConstraints.begin(),
                                Constraint(primaryKey.name) + "UNIQUE " + JoinKey(primaryKey));
      }
      hasPrimaryKey = false;
    }
    for (ColumnDef& c : columns) {
      if (c.primaryKey && &c != identity) {
        c.primaryKey = false;
        c.constraints.push_back(Constraint(c.primaryKeyName) + "UNIQUE");
      }
    }
  }

  // Large binary columns are stored after the others, so that a value
  // streamed into one is not followed by stored data (column_order.h).
  std::vector<size_t> stored;
  for (int last = 0; last < 2; ++last) {
    for (size_t i = 0; i < columns.size(); ++i) {
      if (StoredLast(columns[i].type, columns[i].length) == (last == 1)) stored.push_back(i);
    }
  }
  std::vector<std::string> notes(columns.size());
  if (!std::is_sorted(stored.begin(), stored.end())) {
    for (size_t i = 0; i < columns.size(); ++i) {
      notes[i] = DeclaredPositionComment(i + 1, columns[i].name);
      if (notes[i].empty()) {
        // A name no comment can hold: stored as declared.
        std::sort(stored.begin(), stored.end());
        notes.assign(columns.size(), {});
        break;
      }
    }
  }

  BatchSchema::TableShape shape;
  for (const ColumnDef& c : columns) {
    shape.columns.push_back(c.name);
    shape.types.push_back(c.type);
  }
  if (identity) shape.identity = identity->name;
  shape.reordered = !std::is_sorted(stored.begin(), stored.end());
  em.schema().DefineTable(table, std::move(shape));

  std::string sql = "CREATE TABLE " + QuoteName(table) + " (";
  for (size_t i : stored) {
    if (i != stored.front()) sql += ", ";
    const ColumnDef& c = columns[i];
    sql += RenderColumn(table, c, &c == identity, notes[i]);
  }
  if (hasPrimaryKey)
    sql += ", " + Constraint(primaryKey.name) + "PRIMARY KEY " + JoinKey(primaryKey);
  for (const std::string& k : tableConstraints) sql += ", " + k;
  sql += ")";
  const size_t from = out.size();
  out.push_back({Statement::Kind::Sql, std::move(sql), {}});
  if (identity && identity->seed != 1) {
    out.push_back({Statement::Kind::Sql,
                   "INSERT INTO sqlite_sequence (name, seq) VALUES (" + QuoteText(table) + ", " +
                       std::to_string(identity->seed - 1) + ")",
                   {}});
  }
  RunAsOne(out, from);
}

void TranslateCreateIndex(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  size_t k = b + 1;
  bool unique = false;
  if (k < e && IsWord(t[k], "UNIQUE")) {
    unique = true;
    ++k;
  }
  if (k < e && (IsWord(t[k], "CLUSTERED") || IsWord(t[k], "NONCLUSTERED"))) ++k;
  if (k >= e || !IsWord(t[k], "INDEX")) SyntaxError(t[k < e ? k : e - 1]);
  ++k;
  if (k >= e) SyntaxError(t[e - 1]);
  const std::string index = NameOf(t[k]);
  ++k;
  if (k >= e || !IsWord(t[k], "ON")) SyntaxError(t[k < e ? k : e - 1]);
  std::string table;
  const size_t nameEnd = em.ObjectName(k + 1, e, &table);
  if (nameEnd == k + 1 || nameEnd >= e || !IsOp(t[nameEnd], "(")) {
    SyntaxError(t[nameEnd < e ? nameEnd : e - 1]);
  }
  const KeyDef key = KeyColumns(em, nameEnd);
  k = em.Match(nameEnd) + 1;
  if (k + 1 < e && IsWord(t[k], "INCLUDE") && IsOp(t[k + 1], "(")) k = em.Match(k + 1) + 1;
  std::string where;
  if (k < e && IsWord(t[k], "WHERE")) {
    size_t w = k + 1;
    size_t end = w;
    while (end < e && !IsWord(t[end], "WITH") && !IsWord(t[end], "ON")) {
      end = IsOp(t[end], "(") ? em.Match(end) + 1 : end + 1;
    }
    em.ScanTables(b, b);
    em.AddTable(table);
    em.Emit(w, end, where);
    k = end;
  }
  k = SkipIndexOptions(em, k, e, true);
  if (k != e) SyntaxError(t[k]);
  std::string sql = std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " +
                    QuoteName(index) + " ON " + QuoteName(table) + " " + JoinKey(key);
  if (!where.empty()) sql += " WHERE " + where;
  out.push_back({Statement::Kind::Sql, std::move(sql), {}});
}

void TranslateCreateView(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  std::string view;
  size_t k = em.ObjectName(b + 2, e, &view);
  if (k == b + 2) SyntaxError(t[b + 2 < e ? b + 2 : e - 1]);
  std::string columns;
  if (k < e && IsOp(t[k], "(")) {
    columns = " " + JoinKey(KeyColumns(em, k));
    k = em.Match(k) + 1;
  }
  if (k < e && IsWord(t[k], "WITH")) {
    ++k;
    while (k < e && !IsWord(t[k], "AS")) ++k;  // SCHEMABINDING, ENCRYPTION, VIEW_METADATA
  }
  if (k >= e || !IsWord(t[k], "AS")) SyntaxError(t[k < e ? k : e - 1]);
  size_t end = e;
  if (end - k > 3 && IsWord(t[end - 3], "WITH") && IsWord(t[end - 2], "CHECK") &&
      IsWord(t[end - 1], "OPTION")) {
    end -= 3;
  }
  em.ScanTables(k + 1, end);
  std::string sql = "CREATE VIEW " + QuoteName(view) + columns + " AS";
  em.Emit(k + 1, end, sql);
  out.push_back({Statement::Kind::Sql, std::move(sql), {}});
}

void TranslateAlterTable(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  std::string table;
  size_t k = em.ObjectName(b + 2, e, &table);
  if (k == b + 2 || k >= e) SyntaxError(t[k < e ? k : e - 1]);
  em.ScanTables(b, b);
  em.AddTable(table);
  const std::string head = "ALTER TABLE " + QuoteName(table) + " ";
  const size_t from = out.size();
  if (IsWord(t[k], "ADD")) {
    if (k + 1 == e) SyntaxError(t[k]);
    for (const Range& r : em.SplitCommas(k + 1, e)) {
      if (r.first == r.second) SyntaxError(t[r.first < e ? r.first : e - 1]);
      if (IsTableConstraint(t[r.first])) Unsupported("ALTER TABLE ... ADD CONSTRAINT");
      const ColumnDef c = ParseColumn(em, r.first, r.second);
      if (c.identity || c.primaryKey) Unsupported("Adding an identity or key column");
      out.push_back(
          {Statement::Kind::Sql, head + "ADD COLUMN " + RenderColumn(table, c, false), {}});
      em.schema().AddColumn(table, c.name, c.type);
    }
    return RunAsOne(out, from);
  }
  if (IsWord(t[k], "DROP") && k + 1 < e && IsWord(t[k + 1], "COLUMN")) {
    for (const Range& r : em.SplitCommas(k + 2, e)) {
      if (r.second != r.first + 1) SyntaxError(t[r.first < e ? r.first : e - 1]);
      out.push_back(
          {Statement::Kind::Sql, head + "DROP COLUMN " + QuoteName(NameOf(t[r.first])), {}});
      em.schema().DropColumn(table, NameOf(t[r.first]));
    }
    return RunAsOne(out, from);
  }
  Unsupported("ALTER TABLE ... " + std::string(t[k].text));
}

void TranslateDrop(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  if (b + 1 >= e) SyntaxError(t[b]);
  const Token& what = t[b + 1];
  size_t k = b + 2;
  if (IsWord(what, "DATABASE")) {
    if (k + 1 != e) SyntaxError(t[k < e ? k : e - 1]);
    out.push_back({Statement::Kind::DropDatabase, {}, NameOf(t[k])});
    return;
  }
  if (!(IsWord(what, "TABLE") || IsWord(what, "VIEW") || IsWord(what, "INDEX"))) {
    Unsupported("DROP " + std::string(what.text));
  }
  std::string ifExists;
  if (k + 1 < e && IsWord(t[k], "IF") && IsWord(t[k + 1], "EXISTS")) {
    ifExists = "IF EXISTS ";
    k += 2;
  }
  for (const Range& r : em.SplitCommas(k, e)) {
    std::string name;
    size_t end = em.ObjectName(r.first, r.second, &name);
    if (end == r.first) SyntaxError(t[r.first < e ? r.first : e - 1]);
    if (IsWord(what, "INDEX") && end < r.second && IsWord(t[end], "ON")) {
      std::string table;
      end = em.ObjectName(end + 1, r.second, &table);
    }
    if (end != r.second) SyntaxError(t[end]);
    out.push_back({Statement::Kind::Sql,
                   "DROP " + common::AsciiUpper(what.text) + " " + ifExists + QuoteName(name),
                   {}});
    if (IsWord(what, "TABLE")) {
      BatchSchema::TableShape gone;
      gone.exists = false;
      em.schema().DefineTable(name, std::move(gone));
    }
  }
}

}  // namespace pv::db::tsql
