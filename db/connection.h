// One interface over the two database engines: ODBC (production SQL Server
// through unixODBC) and the embedded SQLite engine with its T-SQL front.
// Every failure is thrown as DbError (number + description).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "db/error.h"
#include "db/value.h"

namespace pv::db {

// What the service's connection strings carry. The text form the service
// logs and compares is AdoConnectionString(); engines map the fields to
// their own form (ODBC: quoted where a value needs it).
struct ConnectionParams {
  std::string server;    // host name, e.g. "localhost"
  std::string port;      // digits, e.g. "1433"
  std::string user;      // SQL Server login
  std::string password;  // may be empty
  std::string database;  // initial database
};

// "MSDASQL;DRIVER={SQL Server};SERVER=" + server + "," + port +
// ";trusted_connection=no;user id= " + user + ";password=" + password +
// ";database=" + database + ";"
std::string AdoConnectionString(const ConnectionParams& p);

enum class Cursor { Forward, Keyset };

// Receives the bytes of one column value part by part, in order. A failure it
// throws ends the read and passes to the caller of ReadColumn.
using ColumnSink = std::function<void(const std::uint8_t* data, std::size_t size)>;

// The most bytes ReadColumn hands to its sink at once.
inline constexpr std::size_t kColumnChunk = 64 * 1024;

// Rows of one query, walked forward. The rowset streams: only the current
// row is held, so a table of photos never sits in memory at once.
class Rowset {
 public:
  virtual ~Rowset() = default;
  virtual int ColumnCount() const = 0;
  virtual const std::string& ColumnName(int index) const = 0;
  // Index of the column whose name matches without regard to case; -1 when absent.
  int FindColumn(const std::string& name) const;
  // Moves to the next row; false when there is none. Call it before the first row.
  virtual bool Next() = 0;
  // Values of the current row.
  virtual const Value& Get(int index) const = 0;
  // By name, without regard to case; throws DbError 3265 when there is no such column.
  const Value& Get(const std::string& name) const;
  virtual void Close() = 0;
};

class Connection {
 public:
  virtual ~Connection() = default;

  // Opens the connection; throws DbError on failure (bad login 18456,
  // missing database 4060, unreachable server 17 or the driver's number).
  virtual void Open(const ConnectionParams& params) = 0;
  virtual bool IsOpen() const = 0;
  virtual void Close() = 0;

  // Seconds a single statement may run; 0 = no limit. Default 60.
  virtual void SetCommandTimeout(int seconds) = 0;

  // Runs a command text that may hold several statements, consuming every
  // result. Returns the rows affected by the last statement that reports a
  // count (-1 when none does).
  virtual std::int64_t Execute(const std::string& sql) = 0;

  // Runs a query and returns its rows (the first result set of the text).
  virtual std::unique_ptr<Rowset> Query(const std::string& sql,
                                        Cursor cursor = Cursor::Forward) = 0;

  // The current database (ADO's DefaultDatabase) and switching it; switching
  // to a database that does not exist throws DbError 911 / 4060.
  virtual std::string CurrentDatabase() = 0;
  virtual void SetCurrentDatabase(const std::string& name) = 0;

  // Stores the bytes of `file` into `column` of the row of `table` whose id is
  // `id`, streaming them (never the whole file in memory at once for large
  // files). The row is located with "Select id, <column> From <table> Where id
  // = <id>"; returns false when that finds no row. Throws DbError when the
  // statement fails or the file cannot be read.
  virtual bool StoreFileInColumn(const std::string& table, const std::string& column,
                                 std::int64_t id, const std::filesystem::path& file) = 0;

  // The other way: reads `column` of the row of `table` whose id is `id` and
  // hands its bytes to `sink` in parts of at most kColumnChunk bytes, never
  // the whole value at once (a photo of any size costs a chunk of memory).
  // The bytes are a binary value's, or a text value's as stored. False, with
  // `sink` never called, when there is no such row or the value is Null; an
  // empty value calls `sink` once with no bytes. Throws DbError when the
  // statement fails (unknown table or column, connection lost), and passes
  // on what `sink` throws.
  virtual bool ReadColumn(const std::string& table, const std::string& column, std::int64_t id,
                          const ColumnSink& sink) = 0;
};

// Which engine a connection uses: the setting "sqlDriver". "embedded" selects
// the embedded engine, whose instances live under `embeddedRoot`; anything
// else is the name of an ODBC driver (default "FreeTDS").
struct EngineOptions {
  std::string driver = "FreeTDS";
  std::filesystem::path embeddedRoot;  // <local application-data folder>/sql
  // ODBC only, in seconds, 0 = none: the wait for the login
  // (SQL_ATTR_LOGIN_TIMEOUT) and each statement's time (SQL_ATTR_QUERY_TIMEOUT,
  // until SetCommandTimeout says otherwise). The embedded engine keeps its own
  // 60-second command time-out.
  int loginTimeoutSeconds = 15;
  int commandTimeoutSeconds = 30;
};

std::unique_ptr<Connection> CreateConnection(const EngineOptions& options);

}  // namespace pv::db
