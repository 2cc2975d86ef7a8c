#include "db/tsql/duplicates.h"

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "db/tsql/lexer.h"

namespace pv::db::tsql {
namespace {

// A statement of its own on `db`, finalized whatever happens.
class Query {
 public:
  Query(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st_, nullptr) !=
        SQLITE_OK) {
      sqlite3_finalize(st_);
      st_ = nullptr;
    }
  }
  ~Query() { sqlite3_finalize(st_); }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;
  bool ok() const { return st_ != nullptr; }
  sqlite3_stmt* get() const { return st_; }
  bool Step() { return st_ != nullptr && sqlite3_step(st_) == SQLITE_ROW; }
  std::string Text(int i) const {
    const unsigned char* p = sqlite3_column_text(st_, i);
    return p ? reinterpret_cast<const char*>(p) : "";
  }

 private:
  sqlite3_stmt* st_ = nullptr;
};

// One key value as SQL Server writes it in the message.
std::string ValueText(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
      return "<NULL>";
    case SQLITE_BLOB: {
      std::string s = "0x";
      const auto* p = static_cast<const unsigned char*>(sqlite3_value_blob(v));
      char buf[3];
      for (int i = 0; i < sqlite3_value_bytes(v); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", p[i]);
        s += buf;
      }
      return s;
    }
    default: {
      const unsigned char* p = sqlite3_value_text(v);
      return p ? reinterpret_cast<const char*>(p) : "";
    }
  }
}

// SQL Server's name for a constraint declared without one:
// PK__Names__3213E83F1B0E4A2C.
std::string GeneratedName(std::string_view prefix, const std::string& table) {
  std::uint64_t h = 1469598103934665603ull;
  for (char c : common::AsciiLower(table))
    h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(h));
  return std::string(prefix) + "__" + table.substr(0, 8) + "__" + buf;
}

bool SameColumns(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!common::EqualsNoCase(a[i], b[i])) return false;
  }
  return true;
}

// The name given to the PRIMARY KEY (primary) or UNIQUE constraint over
// `columns` in the table's definition: "CONSTRAINT name PRIMARY KEY" /
// "CONSTRAINT name UNIQUE (a, b)" or a column's own "CONSTRAINT name UNIQUE".
std::string DeclaredName(sqlite3* db, const std::string& table, bool primary,
                         const std::vector<std::string>& columns) {
  Query q(db, "SELECT sql FROM main.sqlite_schema WHERE type = 'table' AND name = " +
                  QuoteText(table) + " COLLATE NOCASE");
  if (!q.Step()) return {};
  const std::string sql = q.Text(0);
  std::vector<Token> t;
  try {
    t = Tokenize(sql);
  } catch (const DbError&) {
    return {};
  }
  // The column being defined: the first name of each top-level part.
  int depth = 0;
  std::string current;
  bool partStart = false;
  for (size_t i = 0; i < t.size(); ++i) {
    if (IsOp(t[i], "(")) {
      if (++depth == 1) partStart = true;
      continue;
    }
    if (IsOp(t[i], ")")) {
      --depth;
      continue;
    }
    if (depth != 1) continue;
    if (IsOp(t[i], ",")) {
      partStart = true;
      continue;
    }
    if (partStart) {
      current = NameOf(t[i]);
      partStart = false;
    }
    if (!IsWord(t[i], "CONSTRAINT") || i + 2 >= t.size()) continue;
    const std::string name = NameOf(t[i + 1]);
    size_t k = i + 2;
    const bool isPrimary = IsWord(t[k], "PRIMARY");
    if (!isPrimary && !IsWord(t[k], "UNIQUE")) continue;
    if (isPrimary != primary) continue;
    if (isPrimary) ++k;
    std::vector<std::string> declared;
    if (k + 1 < t.size() && IsOp(t[k + 1], "(")) {
      for (size_t j = k + 2; j < t.size() && !IsOp(t[j], ")"); ++j) {
        if (t[j].kind == TokKind::Word || t[j].kind == TokKind::Quoted) {
          if (!IsWord(t[j], "ASC") && !IsWord(t[j], "DESC") && !IsWord(t[j], "COLLATE")) {
            declared.push_back(NameOf(t[j]));
          }
        }
      }
    } else {
      declared.push_back(current);
    }
    if (primary || SameColumns(declared, columns)) return name;
  }
  return {};
}

// Where the duplicate came from: the unique index over `columns` (its name
// and origin: "pk", "u" constraint, "c" CREATE INDEX).
bool FindIndex(sqlite3* db, const std::string& table, const std::vector<std::string>& columns,
               std::string* name, std::string* origin) {
  Query list(
      db, "SELECT name, origin FROM pragma_index_list(" + QuoteText(table) + ") WHERE \"unique\"");
  while (list.Step()) {
    const std::string index = list.Text(0);
    Query info(db, "SELECT name FROM pragma_index_info(" + QuoteText(index) + ") ORDER BY seqno");
    std::vector<std::string> cols;
    while (info.Step()) cols.push_back(info.Text(0));
    if (SameColumns(cols, columns)) {
      *name = index;
      *origin = list.Text(1);
      return true;
    }
  }
  return false;
}

// The key value an INSERT repeated: its rows are read again (VALUES or the
// SELECT, without inserting) and the first whose key the table already holds,
// or an earlier row of the statement held, is the duplicate.
std::string InsertedKey(sqlite3* db, const std::string& table,
                        const std::vector<std::string>& columns, std::string_view sql) {
  std::vector<Token> t;
  try {
    t = Tokenize(sql);
  } catch (const DbError&) {
    return {};
  }
  size_t k = 0;
  if (k >= t.size() || !IsWord(t[k], "INSERT")) return {};
  while (k < t.size() && !IsOp(t[k], "(") && !IsWord(t[k], "VALUES") && !IsWord(t[k], "SELECT")) {
    ++k;
  }
  if (k >= t.size() || !IsOp(t[k], "(")) return {};
  std::vector<int> at(columns.size(), -1);
  int n = 0;
  for (++k; k < t.size() && !IsOp(t[k], ")"); ++k) {
    if (IsOp(t[k], ",")) continue;
    for (size_t c = 0; c < columns.size(); ++c) {
      if (common::EqualsNoCase(NameOf(t[k]), columns[c])) at[c] = n;
    }
    ++n;
  }
  for (int a : at) {
    if (a < 0) return {};
  }
  if (++k >= t.size()) return {};
  if (!(IsWord(t[k], "VALUES") || IsWord(t[k], "SELECT") || IsWord(t[k], "WITH"))) return {};
  const size_t from = static_cast<size_t>(t[k].text.data() - sql.data());
  Query rows(db, "SELECT * FROM (" + std::string(sql.substr(from)) + ")");
  std::string exists = "SELECT 1 FROM " + QuoteName(table) + " WHERE ";
  for (size_t c = 0; c < columns.size(); ++c) {
    if (c > 0) exists += " AND ";
    exists += QuoteName(columns[c]) + " IS ?";
  }
  Query held(db, exists);
  if (!rows.ok() || !held.ok()) return {};
  std::set<std::string> seen;
  for (int row = 0; row < 100000 && rows.Step(); ++row) {
    std::string key;
    sqlite3_reset(held.get());
    for (size_t c = 0; c < columns.size(); ++c) {
      sqlite3_value* v = sqlite3_column_value(rows.get(), at[c]);
      if (c > 0) key += ", ";
      key += ValueText(v);
      sqlite3_bind_value(held.get(), static_cast<int>(c) + 1, v);
    }
    if (held.Step() || !seen.insert(key).second) return key;
  }
  return {};
}

// The key value an UPDATE repeated: the rows it updates are read again with
// the new values of the key columns, and the first whose key another row
// already holds, or an earlier updated row took, is the duplicate.
std::string UpdatedKey(sqlite3* db, const std::string& table,
                       const std::vector<std::string>& columns, std::string_view sql) {
  std::vector<Token> t;
  try {
    t = Tokenize(sql);
  } catch (const DbError&) {
    return {};
  }
  auto at = [&](size_t i) {
    return i < t.size() ? static_cast<size_t>(t[i].text.data() - sql.data()) : sql.size();
  };
  size_t set = 1;
  while (set < t.size() && !IsWord(t[set], "SET")) ++set;
  if (set < 2 || set >= t.size()) return {};
  const std::string target(sql.substr(at(1), at(set) - at(1)));
  const std::string qualifier =
      set >= 4 && IsWord(t[set - 2], "AS") ? QuoteName(NameOf(t[set - 1])) : QuoteName(table);
  // The SET items up to FROM or WHERE at the top level.
  std::vector<std::string> values(columns.size());
  for (size_t c = 0; c < columns.size(); ++c) values[c] = qualifier + "." + QuoteName(columns[c]);
  size_t i = set + 1;
  int depth = 0;
  size_t item = i;
  for (;; ++i) {
    const bool last =
        i >= t.size() || (depth == 0 && (IsWord(t[i], "FROM") || IsWord(t[i], "WHERE")));
    if (i < t.size() && IsOp(t[i], "(")) ++depth;
    if (i < t.size() && IsOp(t[i], ")")) --depth;
    if (last || (depth == 0 && IsOp(t[i], ","))) {
      if (item + 1 < i && IsOp(t[item + 1], "=")) {
        for (size_t c = 0; c < columns.size(); ++c) {
          if (common::EqualsNoCase(NameOf(t[item]), columns[c])) {
            values[c] = "(" + std::string(sql.substr(at(item + 2), at(i) - at(item + 2))) + ")";
          }
        }
      }
      item = i + 1;
    }
    if (last) break;
  }
  std::string select = "SELECT " + qualifier + ".rowid";
  for (const std::string& v : values) select += ", " + v;
  select += " FROM " + target;
  if (i < t.size() && IsWord(t[i], "FROM")) {
    select += ", " + std::string(sql.substr(at(i + 1)));
  } else if (i < t.size()) {
    select += " " + std::string(sql.substr(at(i)));
  }
  Query rows(db, select);
  std::string exists = "SELECT 1 FROM " + QuoteName(table) + " WHERE rowid <> ?";
  for (const std::string& c : columns) exists += " AND " + QuoteName(c) + " IS ?";
  Query held(db, exists);
  if (!rows.ok() || !held.ok()) return {};
  std::set<std::string> seen;
  for (int row = 0; row < 100000 && rows.Step(); ++row) {
    std::string key;
    sqlite3_reset(held.get());
    sqlite3_bind_value(held.get(), 1, sqlite3_column_value(rows.get(), 0));
    for (size_t c = 0; c < columns.size(); ++c) {
      sqlite3_value* v = sqlite3_column_value(rows.get(), static_cast<int>(c) + 1);
      if (c > 0) key += ", ";
      key += ValueText(v);
      sqlite3_bind_value(held.get(), static_cast<int>(c) + 2, v);
    }
    if (held.Step() || !seen.insert(key).second) return key;
  }
  return {};
}

}  // namespace

DbError DuplicateKeyError(sqlite3* db, int code, std::string_view message, std::string_view sql) {
  // "UNIQUE constraint failed: T.a, T.b"
  std::string table;
  std::vector<std::string> columns;
  std::string_view rest = message.substr(message.find(": ") + 2);
  while (!rest.empty()) {
    const size_t comma = rest.find(", ");
    const std::string_view item = rest.substr(0, comma);
    const size_t dot = item.find('.');
    table = std::string(item.substr(0, dot));
    columns.emplace_back(dot == std::string_view::npos ? item : item.substr(dot + 1));
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 2);
  }
  std::string index, origin = "pk";
  if (db != nullptr && !FindIndex(db, table, columns, &index, &origin)) {
    origin = code == SQLITE_CONSTRAINT_UNIQUE ? "u" : "pk";
  } else if (db == nullptr && code == SQLITE_CONSTRAINT_UNIQUE) {
    origin = "u";
  }
  std::string key;
  if (db != nullptr) {
    key = sql.substr(0, 6) == "UPDATE" ? UpdatedKey(db, table, columns, sql)
                                       : InsertedKey(db, table, columns, sql);
  }
  const std::string value = key.empty() ? "" : " The duplicate key value is (" + key + ").";
  if (origin == "c") {
    return DbError(2601, "Cannot insert duplicate key row in object 'dbo." + table +
                             "' with unique index '" + index + "'." + value);
  }
  const bool primary = origin == "pk";
  std::string name = db != nullptr ? DeclaredName(db, table, primary, columns) : "";
  if (name.empty()) name = GeneratedName(primary ? "PK" : "UQ", table);
  return DbError(2627, std::string("Violation of ") + (primary ? "PRIMARY KEY" : "UNIQUE KEY") +
                           " constraint '" + name +
                           "'. Cannot insert duplicate key in object 'dbo." + table + "'." + value);
}

}  // namespace pv::db::tsql
