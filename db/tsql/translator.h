// The T-SQL front of the embedded engine: turns the SQL Server statement
// forms this service uses into SQLite statements with the same effect, and
// maps SQLite's failures to SQL Server's error numbers.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

#include "db/error.h"

namespace pv::db::tsql {

// Column types as declared in CREATE TABLE, lower-case without size ("bit",
// "datetime", "int", "nvarchar", "image"); empty when unknown.
class SchemaLookup {
 public:
  virtual ~SchemaLookup() = default;
  virtual std::string ColumnType(const std::string& table, const std::string& column) const = 0;
};

struct Statement {
  enum class Kind { Sql, CreateDatabase, UseDatabase };
  Kind kind = Kind::Sql;
  std::string sql;   // SQLite text, for Kind::Sql
  std::string name;  // database name, for CreateDatabase / UseDatabase
};

// Splits a T-SQL batch (statements separated by ';' or simply following each
// other, e.g. CREATE TABLE then CREATE INDEX; GO lines) into statements and
// translates each. Throws DbError with SQL Server's number (102 syntax, ...)
// for what it can tell SQL Server would reject.
std::vector<Statement> Translate(std::string_view batch, const SchemaLookup& schema);

// Run on every sqlite3 connection the engine opens (after it opens a database
// file): registers the SQL functions and creates the TEMP catalog views the
// translated statements rely on.
void Prepare(sqlite3* db);

// Maps a SQLite failure to SQL Server's number (208 invalid object name, 207
// invalid column name, 102 syntax, 2627 duplicate key, 515 Null into NOT
// NULL, ...) with a description in SQL Server's style.
DbError MapError(int sqliteExtendedCode, const std::string& sqliteMessage);

}  // namespace pv::db::tsql
