#include "tests/tsql/tsql_test_db.h"

#include <stdexcept>

namespace pv::db::tsql::testing {
namespace {

std::vector<Row> Step(sqlite3* db, const std::string& sql) {
  std::vector<Row> rows;
  const char* tail = sql.c_str();
  while (tail && *tail) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, tail, -1, &st, &tail);
    if (rc != SQLITE_OK) throw MapError(sqlite3_extended_errcode(db), sqlite3_errmsg(db), sql);
    if (!st) break;
    std::vector<Row> mine;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      Row row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        Cell c;
        c.type = sqlite3_column_type(st, i);
        if (c.type == SQLITE_INTEGER) c.integer = sqlite3_column_int64(st, i);
        if (c.type == SQLITE_FLOAT) c.real = sqlite3_column_double(st, i);
        if (c.type == SQLITE_TEXT) {
          c.text.assign(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                        static_cast<size_t>(sqlite3_column_bytes(st, i)));
        }
        if (c.type == SQLITE_BLOB) {
          const void* p = sqlite3_column_blob(st, i);
          c.text.assign(static_cast<const char*>(p),
                        static_cast<size_t>(sqlite3_column_bytes(st, i)));
        }
        row.push_back(std::move(c));
      }
      mine.push_back(std::move(row));
    }
    const bool hasColumns = sqlite3_column_count(st) > 0;
    if (rc != SQLITE_DONE) {
      const int code = sqlite3_extended_errcode(db);
      const std::string msg = sqlite3_errmsg(db);
      sqlite3_finalize(st);
      throw MapError(code, msg, sql);
    }
    sqlite3_finalize(st);
    if (hasColumns) rows = std::move(mine);
  }
  return rows;
}

}  // namespace

TestDb::TestDb(const std::string& path) {
  if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) {
    sqlite3_close(db_);
    throw std::runtime_error("cannot open " + path);
  }
  Prepare(db_);
  schema_ = std::make_unique<SqliteSchema>(db_);
}

TestDb::~TestDb() {
  schema_.reset();
  sqlite3_close(db_);
}

std::vector<Row> TestDb::Run(const std::string& tsql) {
  std::vector<Row> rows;
  for (const Statement& st : Translate(tsql, *schema_)) {
    if (st.kind != Statement::Kind::Sql) continue;
    std::vector<Row> r = Step(db_, st.sql);
    if (!r.empty() || rows.empty()) rows = std::move(r);
  }
  return rows;
}

std::vector<Row> TestDb::RunSqlite(const std::string& sql) { return Step(db_, sql); }

long TestDb::ErrorOf(const std::string& tsql) {
  try {
    Run(tsql);
  } catch (const DbError& e) {
    return e.number();
  }
  return 0;
}

std::string TestDb::Scalar(const std::string& tsql) {
  const std::vector<Row> rows = Run(tsql);
  if (rows.empty() || rows[0].empty()) return "(no row)";
  const Cell& c = rows[0][0];
  switch (c.type) {
    case SQLITE_NULL:
      return "NULL";
    case SQLITE_INTEGER:
      return std::to_string(c.integer);
    case SQLITE_FLOAT:
      return std::to_string(c.real);
    default:
      return c.text;
  }
}

std::string TestDb::DeclaredType(const std::string& tsql, int column) {
  const std::vector<Statement> st = Translate(tsql, *schema_);
  if (st.size() != 1) throw std::runtime_error("one statement expected");
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_, st[0].sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
    throw MapError(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_), st[0].sql);
  }
  const char* d = sqlite3_column_decltype(s, column);
  std::string r = d ? d : "";
  sqlite3_finalize(s);
  return r;
}

}  // namespace pv::db::tsql::testing
