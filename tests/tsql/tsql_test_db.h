// A SQLite database (in memory or in a temporary file) prepared for the
// T-SQL front, running T-SQL batches the way the embedded engine does:
// translate, then run each statement, mapping failures to SQL Server's.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/tsql/sqlite_schema.h"
#include "db/tsql/translator.h"

namespace pv::db::tsql::testing {

// One value of a result row, as SQLite delivers it.
struct Cell {
  int type = SQLITE_NULL;
  std::int64_t integer = 0;
  double real = 0;
  std::string text;  // text or blob bytes
  bool IsNull() const { return type == SQLITE_NULL; }
};
using Row = std::vector<Cell>;

class TestDb {
 public:
  // An in-memory database, or a file when `path` is given.
  explicit TestDb(const std::string& path = ":memory:");
  ~TestDb();
  TestDb(const TestDb&) = delete;
  TestDb& operator=(const TestDb&) = delete;

  sqlite3* handle() const { return db_; }

  // Translates and runs a T-SQL batch; throws DbError as the engine would.
  // Returns the rows of the last statement that yields rows.
  std::vector<Row> Run(const std::string& tsql);
  // Runs SQLite's own dialect, untranslated.
  std::vector<Row> RunSqlite(const std::string& sql);
  // The number SQL Server would report for `tsql`, or 0 when it succeeds.
  long ErrorOf(const std::string& tsql);
  // First column of the first row, as text ("NULL" for Null).
  std::string Scalar(const std::string& tsql);
  // The declared type SQLite reports for a result column of `tsql`.
  std::string DeclaredType(const std::string& tsql, int column);

  std::vector<Statement> TranslateOnly(const std::string& tsql) {
    return Translate(tsql, *schema_);
  }

 private:
  sqlite3* db_ = nullptr;
  std::unique_ptr<SqliteSchema> schema_;
};

}  // namespace pv::db::tsql::testing
