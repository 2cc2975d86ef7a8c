// The T-SQL front of the embedded engine: turns the SQL Server statement
// forms this service uses into SQLite statements with the same effect, and
// maps SQLite's failures to SQL Server's error numbers.
//
// It works on tokens, so text literals, bracketed names and comments are
// never rewritten inside. What it does:
// - names: [x] and "x" as quoted names, the schema "dbo." dropped,
//   INFORMATION_SCHEMA.COLUMNS / TABLES, sysobjects and sys.objects / tables /
//   views answered by TEMP views (see Prepare);
// - CREATE TABLE: SQL Server's types kept as declared ((max) as (-1)),
//   CLUSTERED/NONCLUSTERED, WITH (...), ON [fg], TEXTIMAGE_ON dropped, an
//   IDENTITY column as an AUTOINCREMENT rowid, text columns COLLATE NOCASE,
//   named CHECK constraints for lengths, integer ranges, bits, date-times and
//   binary, varbinary(max) and image columns stored after the others with
//   the declared order kept in comments (column_order.h; '*', INSERT without
//   a column list and the catalog follow the declared order); CREATE INDEX,
//   CREATE VIEW, ALTER TABLE ADD / DROP COLUMN, DROP;
// - values: 'True'/'False' as 1/0 for bit columns, date-time text as
//   "YYYY-MM-DD hh:mm:ss.fff" for datetime columns ('' as 1900-01-01), '' as 0
//   for numbers, N'..' as '..', 0x.. as X'..' (in INSERT ... VALUES, SET and
//   comparisons with a typed column);
// - expressions: TOP n / TOP (n) as LIMIT, TOP (100) PERCENT dropped, '+' on
//   text as concatenation (pv_add where the kinds are known only per row),
//   GETDATE(), SCOPE_IDENTITY(), @@IDENTITY, @@ROWCOUNT, ISNULL, LEN,
//   SUBSTRING, CHARINDEX, LEFT, RIGHT, DATALENGTH, CONVERT (with date-time
//   styles) and CAST, nested joins ("A JOIN B JOIN C ON x ON y")
//   parenthesised; text literals and text results COLLATE NOCASE (see
//   collation.h), text without N limited to Windows-1252; unnamed select
//   items named "" as SQL Server leaves them;
// - statements: batches split at ';', GO lines and where a new statement
//   begins; CREATE / USE / DROP DATABASE handed to the engine; SET
//   IDENTITY_INSERT; BEGIN / COMMIT / ROLLBACK TRAN; TRUNCATE TABLE;
//   UPDATE ... FROM, UPDATE / DELETE TOP (n); DECLARE, SET and SELECT of
//   variables (variables.h); IF ... ELSE and BEGIN ... END (control_flow.h);
// - conversions that fail as in SQL Server: text to numbers and date-times,
//   division by zero (conversions.h).
// Anything else passes through to SQLite; its refusal comes back through
// MapError in SQL Server's words.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/error.h"

namespace pv::db::tsql {

// What the translator needs to know about the tables of the current database.
class SchemaLookup {
 public:
  virtual ~SchemaLookup() = default;
  // Column types as declared in CREATE TABLE, lower-case without size ("bit",
  // "datetime", "int", "nvarchar", "image"); empty when unknown. Names match
  // without regard to case.
  virtual std::string ColumnType(const std::string& table, const std::string& column) const = 0;
  // The types of several columns of one table, in the order asked (each as
  // ColumnType gives it). A cache may answer this faster than one by one.
  virtual std::vector<std::string> ColumnTypes(const std::string& table,
                                               const std::vector<std::string>& columns) const {
    std::vector<std::string> types;
    types.reserve(columns.size());
    for (const std::string& c : columns) types.push_back(ColumnType(table, c));
    return types;
  }
  // The table's identity column, empty when it has none.
  virtual std::string IdentityColumn(const std::string& /*table*/) const { return {}; }
  // The table's columns in declared order (for INSERTs without a column
  // list); empty when unknown.
  virtual std::vector<std::string> Columns(const std::string& /*table*/) const { return {}; }
  // The table's columns in declared order when SQLite stores them in
  // another order (see column_order.h): a '*' over the table must then be
  // written out as this list. Empty when the orders are the same or the
  // table is unknown.
  virtual std::vector<std::string> StarColumns(const std::string& /*table*/) const { return {}; }
  // Called once at the start of every Translate; a cache may check here
  // whether the schema changed.
  virtual void BeginTranslate() const {}
};

// A lookup that knows nothing: typed conversions are then left to SQLite.
class NoSchema : public SchemaLookup {
 public:
  std::string ColumnType(const std::string&, const std::string&) const override { return {}; }
};

struct Statement {
  // Condition (IF ... ELSE): `sql` yields one value; unless it is true (or
  // when `sql` is empty) the next `skip` statements are passed over.
  enum class Kind { Sql, CreateDatabase, UseDatabase, DropDatabase, Condition };
  Kind kind = Kind::Sql;
  std::string sql;       // SQLite text, for Kind::Sql and Kind::Condition
  std::string name;      // database name, for CreateDatabase / UseDatabase / DropDatabase
  std::size_t skip = 0;  // for Kind::Condition
};

// Splits a T-SQL batch (statements separated by ';' or simply following each
// other, e.g. CREATE TABLE then CREATE INDEX; GO lines) into statements and
// translates each. Statements that have no effect here (SET NOCOUNT ON, ...)
// yield nothing. Throws DbError with SQL Server's number (102 syntax, 105
// unclosed quote, 241/245 conversion, 544 explicit identity value, ...) for
// what it can tell SQL Server would reject.
std::vector<Statement> Translate(std::string_view batch, const SchemaLookup& schema);

// The statements of a batch as Translate cuts them, each as written in
// `batch` (its first to its last token; the ';' left out). Throws DbError as
// Translate does for unclosed quotation marks, comments and parentheses.
std::vector<std::string_view> SplitBatch(std::string_view batch);

// Run on every sqlite3 connection the engine opens (after it opens a database
// file): registers the SQL functions and the case-insensitive collation, and
// creates the TEMP catalog views (sysobjects, INFORMATION_SCHEMA.COLUMNS, ...)
// the translated statements rely on. Throws DbError on failure.
void Prepare(sqlite3* db);

// @@ROWCOUNT of the connection a handle serves. The engine records after
// every statement what it affected or returned (AfterStatement), and hands
// the value on to the handle that runs the next one.
void SetRowCount(sqlite3* db, std::int64_t rows);
std::int64_t RowCount(sqlite3* db);

// Called by the engine once a statement ran to its end on `db`: `rows` is
// what it affected (INSERT, UPDATE, DELETE), returned (a query) or 0. After
// an insert into a table without an identity column SCOPE_IDENTITY() and
// @@IDENTITY are Null, as in SQL Server.
void AfterStatement(sqlite3* db, sqlite3_stmt* st, std::int64_t rows);

// Maps a SQLite failure to SQL Server's number (208 invalid object name, 207
// invalid column name, 102 syntax, 2627 duplicate key, 515 Null into NOT
// NULL, 8152 truncation, 245/241 conversion, ...) with a description in SQL
// Server's style. `sql` (optional) is the statement that failed; it lets the
// description name the statement kind ("INSERT fails.") and the table a full
// disk refused. `database` names the database in storage failures;
// `systemError` is the operating system's code of the failed call
// (sqlite3_system_errno): a write refused for want of space reads as a full
// disk (1105) whatever SQLite's code, other I/O failures as 823. `db`, the
// connection the statement failed on, lets a duplicate key name its
// constraint or index and the key value (see duplicates.h).
DbError MapError(int sqliteExtendedCode, const std::string& sqliteMessage,
                 std::string_view sql = {}, std::string_view database = {}, int systemError = 0,
                 sqlite3* db = nullptr);

}  // namespace pv::db::tsql
