// INSERT, UPDATE, DELETE and TRUNCATE: literals are converted for the typed
// columns they meet, and identity columns are guarded as SQL Server guards
// them.
#include <algorithm>

#include "common/cp1252.h"
#include "common/text.h"
#include "db/error.h"
#include "db/tsql/statements.h"

namespace pv::db::tsql {
namespace {

// The value SQL Server would reject unless IDENTITY_INSERT is ON for the
// table (SET IDENTITY_INSERT records that in temp.pv_identity_insert).
std::string GuardIdentity(const std::string& table, const std::string& value) {
  return "CASE WHEN EXISTS (SELECT 1 FROM temp.pv_identity_insert WHERE name = " +
         QuoteText(table) + ") THEN (" + value + ") ELSE pv_error(544, " +
         QuoteText("Cannot insert explicit value for identity column in table '" + table +
                   "' when IDENTITY_INSERT is set to OFF.") +
         ") END";
}

// UPDATE ... FROM in SQLite's terms: T-SQL names the updated table (or its
// alias) again as the first source of the FROM clause; SQLite must not. That
// source is dropped, its alias kept on the target, and the ON condition of the
// join that followed it moves to WHERE.
struct UpdateFrom {
  std::string table;      // the updated table when the FROM clause named it; else empty
  std::string alias;      // its alias in the FROM clause
  std::string from;       // "FROM ..." for SQLite, or empty
  std::string condition;  // the ON condition moved to WHERE
};

bool IsJoinWord(const Token& k) {
  return IsWord(k, "JOIN") || IsWord(k, "INNER") || IsWord(k, "LEFT") || IsWord(k, "RIGHT") ||
         IsWord(k, "FULL") || IsWord(k, "CROSS") || IsWord(k, "OUTER");
}

UpdateFrom ReadUpdateFrom(Emitter& em, const std::string& target, size_t from, size_t end) {
  const auto& t = em.tokens();
  UpdateFrom u;
  std::string first;
  size_t k = em.ObjectName(from + 1, end, &first);
  if (k == from + 1) SyntaxError(t[from + 1 < end ? from + 1 : from]);
  std::string alias;
  if (k < end && IsWord(t[k], "AS")) ++k;
  if (k < end && (t[k].kind == TokKind::Word || t[k].kind == TokKind::Quoted) &&
      !IsJoinWord(t[k]) && !IsWord(t[k], "ON")) {
    alias = NameOf(t[k++]);
  }
  if (k + 1 < end && IsWord(t[k], "WITH") && IsOp(t[k + 1], "(")) k = em.Match(k + 1) + 1;
  if (!common::EqualsNoCase(first, target) && !common::EqualsNoCase(alias, target)) {
    // The FROM clause joins other tables only: SQLite's own UPDATE ... FROM.
    em.Emit(from, end, u.from);
    return u;
  }
  u.table = first;
  u.alias = alias;
  if (k == end) return u;  // FROM names the updated table alone
  if (IsOp(t[k], ",")) {
    em.Emit(k + 1, end, u.from);
    u.from = "FROM " + u.from;
    return u;
  }
  if (IsWord(t[k], "INNER")) ++k;
  if (k >= end || !IsWord(t[k], "JOIN")) {
    Unsupported("UPDATE ... FROM with an outer or cross join of the updated table");
  }
  const size_t on = em.FindWord(k + 1, end, "ON");
  if (on == end) SyntaxError(t[end - 1]);
  size_t condEnd = on + 1;
  while (condEnd < end && !IsJoinWord(t[condEnd])) {
    condEnd = IsOp(t[condEnd], "(") ? em.Match(condEnd) + 1 : condEnd + 1;
  }
  u.from = "FROM";
  em.Emit(k + 1, on, u.from);
  em.Emit(condEnd, end, u.from);
  em.Emit(on + 1, condEnd, u.condition);
  return u;
}

}  // namespace

void TranslateInsert(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  size_t k = b + 1;
  if (k < e && IsWord(t[k], "TOP")) Unsupported("INSERT TOP");
  if (k < e && IsWord(t[k], "INTO")) ++k;
  std::string table;
  const size_t nameEnd = em.ObjectName(k, e, &table);
  if (nameEnd == k) SyntaxError(t[k < e ? k : e - 1]);
  std::string sql;
  sql.reserve(t[e - 1].text.data() - t[b].text.data() + 64);
  sql = "INSERT INTO";
  em.EmitNameChain(k, nameEnd, sql);
  k = nameEnd;
  if (k + 1 < e && IsWord(t[k], "WITH") && IsOp(t[k + 1], "(")) k = em.Match(k + 1) + 1;

  const std::string identity = em.schema().IdentityColumn(table);
  std::vector<std::string> columns;
  bool listed = false;
  if (k < e && IsOp(t[k], "(") && !(k + 1 < e && IsWord(t[k + 1], "SELECT"))) {
    const size_t close = em.Match(k);
    sql += " (";
    bool first = true;
    for (const Range& r : em.SplitCommas(k + 1, close)) {
      if (r.second != r.first + 1 ||
          !(t[r.first].kind == TokKind::Word || t[r.first].kind == TokKind::Quoted)) {
        SyntaxError(t[r.first < close ? r.first : close]);
      }
      columns.push_back(NameOf(t[r.first]));
      if (!first) sql += ", ";
      first = false;
      em.EmitToken(r.first, sql);
    }
    sql += ")";
    listed = true;
    k = close + 1;
  }
  if (k < e && IsWord(t[k], "OUTPUT")) Unsupported("INSERT ... OUTPUT");
  if (k < e && IsWord(t[k], "VALUES")) {
    if (!listed) {
      // Without a column list the values fill the columns in order, the
      // identity column left out (it numbers the row itself).
      columns = em.schema().Columns(table);
      if (!identity.empty()) {
        std::erase_if(columns,
                      [&](const std::string& c) { return common::EqualsNoCase(c, identity); });
      }
      if (!columns.empty()) {
        sql += " (";
        for (size_t n = 0; n < columns.size(); ++n) {
          if (n > 0) sql += ", ";
          sql += QuoteName(columns[n]);
        }
        sql += ")";
      }
    }
    sql += " VALUES";
    ++k;
    std::vector<TypeClass> classes;
    std::vector<std::string> types;
    std::vector<bool> narrow;  // varchar, char, text: Windows-1252 only
    bool firstRow = true;
    while (k < e) {
      if (!IsOp(t[k], "(")) SyntaxError(t[k]);
      const size_t close = em.Match(k);
      const std::vector<Range> values = em.SplitCommas(k + 1, close);
      if (!listed && !columns.empty() && values.size() != columns.size()) {
        throw DbError(213,
                      "Column name or number of supplied values does not match table "
                      "definition.");
      }
      if (listed && values.size() != columns.size()) {
        if (values.size() < columns.size()) {
          throw DbError(109,
                        "There are more columns in the INSERT statement than values specified in "
                        "the VALUES clause. The number of values in the VALUES clause must match "
                        "the number of columns specified in the INSERT statement.");
        }
        throw DbError(110,
                      "There are fewer columns in the INSERT statement than values specified in "
                      "the VALUES clause. The number of values in the VALUES clause must match "
                      "the number of columns specified in the INSERT statement.");
      }
      if (classes.empty()) {
        types = em.schema().ColumnTypes(table, columns);
        classes.reserve(values.size());
        for (size_t n = 0; n < values.size(); ++n) {
          classes.push_back(n < types.size() ? ClassOf(types[n]) : TypeClass::Unknown);
          const std::string_view type = n < types.size() ? types[n] : std::string_view();
          narrow.push_back(type == "varchar" || type == "char" || type == "text");
        }
      }
      if (!firstRow) sql += ",";
      firstRow = false;
      sql += " (";
      for (size_t n = 0; n < values.size(); ++n) {
        const Range& r = values[n];
        if (r.first == r.second) SyntaxError(t[r.first]);
        if (n > 0) sql += ", ";
        const bool guarded =
            !identity.empty() && n < columns.size() && common::EqualsNoCase(columns[n], identity);
        std::string guardedValue;
        std::string& value = guarded ? guardedValue : sql;
        if (!(n < classes.size() &&
              em.EmitTypedLiteral(r.first, r.second, classes[n], value,
                                  n < types.size() ? types[n] : std::string()))) {
          if (r.second == r.first + 1 && t[r.first].kind == TokKind::NString && n < narrow.size() &&
              narrow[n] && std::any_of(t[r.first].text.begin(), t[r.first].text.end(), [](char c) {
                return static_cast<unsigned char>(c) >= 0x80;
              })) {
            // N'..' into a single-byte column keeps what Windows-1252 holds.
            Emitter::Append(
                value,
                QuoteText(common::Cp1252ToUtf8(common::Utf8ToCp1252(StringValue(t[r.first])))));
          } else if (r.second == r.first + 1) {
            em.EmitToken(r.first, value);
          } else {
            em.ScanTables(r.first, r.second);
            em.Emit(r.first, r.second, value);
          }
        }
        if (guarded) sql += GuardIdentity(table, guardedValue);
      }
      sql += ")";
      k = close + 1;
      if (k < e && IsOp(t[k], ",")) {
        ++k;
        if (k >= e) SyntaxError(t[e - 1]);
      } else if (k < e) {
        SyntaxError(t[k]);
      }
    }
  } else if (k + 1 < e && IsWord(t[k], "DEFAULT") && IsWord(t[k + 1], "VALUES")) {
    if (k + 2 != e) SyntaxError(t[k + 2]);
    sql += " DEFAULT VALUES";
  } else if (k < e && (IsWord(t[k], "SELECT") || IsOp(t[k], "(") || IsWord(t[k], "WITH"))) {
    if (!identity.empty()) {
      for (const std::string& c : columns) {
        if (common::EqualsNoCase(c, identity)) {
          Unsupported("INSERT ... SELECT into an identity column");
        }
      }
    }
    if (!listed) {
      // The selected values fill the columns in declared order, also where
      // SQLite stores them in another.
      const std::vector<std::string> declared = em.schema().StarColumns(table);
      for (size_t n = 0; n < declared.size(); ++n) {
        sql += (n == 0 ? " (" : ", ") + QuoteName(declared[n]);
      }
      if (!declared.empty()) sql += ")";
    }
    em.ScanTables(k, e);
    em.Emit(k, e, sql);
  } else if (k < e && (IsWord(t[k], "EXEC") || IsWord(t[k], "EXECUTE"))) {
    Unsupported("INSERT ... EXEC");
  } else {
    SyntaxError(t[k < e ? k : e - 1]);
  }
  if (identity.empty() && !em.schema().Columns(table).empty()) sql += kNoIdentityMark;
  out.push_back({Statement::Kind::Sql, std::move(sql), {}});
}

void TranslateUpdate(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  size_t k = b + 1;
  std::string limit;
  if (k < e && IsWord(t[k], "TOP")) k = em.ParseTop(k, e, &limit);
  std::string table;
  const size_t nameEnd = em.ObjectName(k, e, &table);
  if (nameEnd == k) SyntaxError(t[k < e ? k : e - 1]);
  em.ScanTables(b, e);
  const size_t set = em.FindWord(nameEnd, e, "SET");
  if (set == e) SyntaxError(t[e - 1]);
  const size_t from = em.FindWord(set + 1, e, "FROM");
  const size_t where = em.FindWord(set + 1, e, "WHERE");
  size_t setEnd = std::min({from, where, em.FindWord(set + 1, e, "OPTION")});
  UpdateFrom joined;
  if (from < e) {
    if (!limit.empty()) Unsupported("UPDATE TOP ... FROM");
    joined = ReadUpdateFrom(em, table, from, where < e ? where : e);
    if (!joined.table.empty()) table = joined.table;
  }
  const std::string identity = em.schema().IdentityColumn(table);
  std::string sql = "UPDATE";
  std::string target;
  if (joined.table.empty()) {
    em.EmitNameChain(k, nameEnd, target);
  } else {
    target = QuoteName(joined.table);
    if (!joined.alias.empty()) target += " AS " + QuoteName(joined.alias);
  }
  Emitter::Append(sql, target);
  sql += " SET";
  bool first = true;
  for (const Range& r : em.SplitCommas(set + 1, setEnd)) {
    size_t eq = r.first;
    while (eq < r.second && !IsOp(t[eq], "=")) ++eq;
    // An empty item (a trailing comma) ends the statement: name the comma.
    if (eq == r.first || eq == r.second) {
      SyntaxError(t[eq < r.second ? eq : (r.first < e ? r.first : e - 1)]);
    }
    if (!identity.empty() && common::EqualsNoCase(NameOf(t[eq - 1]), identity)) {
      throw DbError(8102, "Cannot update identity column '" + identity + "'.");
    }
    if (!first) sql += ",";
    first = false;
    // SET a.col = ...: SQLite names the column alone.
    em.Emit(eq - 1, r.second, sql);
  }
  std::string rest;
  if (from < e) {
    Emitter::Append(sql, joined.from);
    std::string condition;
    if (where < e) em.Emit(where + 1, e, condition);
    if (!joined.condition.empty()) {
      condition = condition.empty() ? joined.condition
                                    : "(" + joined.condition + ") AND (" + condition + ")";
    }
    if (!condition.empty()) Emitter::Append(sql, "WHERE " + condition);
  } else if (!limit.empty()) {
    // UPDATE TOP (n): the first n rows the condition finds.
    em.Emit(setEnd, e, rest);
    Emitter::Append(
        sql, "WHERE rowid IN (SELECT rowid FROM " + target + " " + rest + " LIMIT " + limit + ")");
  } else {
    em.Emit(setEnd, e, sql);
  }
  out.push_back({Statement::Kind::Sql, std::move(sql), {}});
}

void TranslateDelete(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  size_t k = b + 1;
  std::string limit;
  if (k < e && IsWord(t[k], "TOP")) k = em.ParseTop(k, e, &limit);
  if (k < e && IsWord(t[k], "FROM")) ++k;
  std::string table;
  const size_t nameEnd = em.ObjectName(k, e, &table);
  if (nameEnd == k) SyntaxError(t[k < e ? k : e - 1]);
  em.ScanTables(b, e);
  em.AddTable(table);
  std::string name;
  em.EmitNameChain(k, nameEnd, name);
  std::string sql = "DELETE FROM " + name;
  k = nameEnd;
  if (k + 1 < e && IsWord(t[k], "WITH") && IsOp(t[k + 1], "(")) k = em.Match(k + 1) + 1;
  if (k < e && IsWord(t[k], "FROM")) Unsupported("DELETE ... FROM ... JOIN");
  if (limit.empty()) {
    em.Emit(k, e, sql);
  } else {
    // DELETE TOP (n): the first n rows the condition finds.
    std::string rest;
    em.Emit(k, e, rest);
    sql += " WHERE rowid IN (SELECT rowid FROM " + name + " " + rest + " LIMIT " + limit + ")";
  }
  out.push_back({Statement::Kind::Sql, std::move(sql), {}});
}

void TranslateTruncate(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  if (b + 1 >= e || !IsWord(t[b + 1], "TABLE")) SyntaxError(t[b + 1 < e ? b + 1 : b]);
  std::string table;
  const size_t nameEnd = em.ObjectName(b + 2, e, &table);
  if (nameEnd == b + 2 || nameEnd != e) SyntaxError(t[nameEnd < e ? nameEnd : e - 1]);
  const size_t from = out.size();
  out.push_back({Statement::Kind::Sql, "DELETE FROM " + QuoteName(table), {}});
  // TRUNCATE starts the identity again at its seed: the one the table's
  // stored text names after kSeedMark, else 1.
  if (!em.schema().IdentityColumn(table).empty()) {
    const std::string name = QuoteText(table) + " COLLATE NOCASE";
    const std::string at = "instr(sql, " + QuoteText(kSeedMark) + ")";
    out.push_back({Statement::Kind::Sql,
                   "UPDATE sqlite_sequence SET seq = coalesce((SELECT CAST(substr(sql, " + at +
                       " + " + std::to_string(kSeedMark.size()) +
                       ") AS INTEGER) - 1 FROM sqlite_master WHERE type = 'table' AND name = " +
                       name + " AND " + at + " > 0), 0) WHERE name = " + name,
                   {}});
  }
  RunAsOne(out, from);
}

}  // namespace pv::db::tsql
