// The rows of one query of the embedded engine, stepped one at a time from
// a SQLite statement on a reader handle. Statements of the batch that follow
// the result set run when the rows are exhausted or the rowset is closed.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/embedded/column_reader.h"
#include "db/embedded/statement_ptr.h"
#include "db/tsql/translator.h"

namespace pv::db::embedded {

class Session;
class SqliteHandle;

class EmbeddedRowset : public Rowset {
 public:
  // An empty, closed result (a batch without a result set).
  EmbeddedRowset() = default;
  // Takes over `statement`, prepared on `handle`; `trailing` runs at the end.
  // With `cacheKey`, a statement that ran to its end goes back to the
  // handle's cache under that text instead of being finalized.
  EmbeddedRowset(std::shared_ptr<Session> session, std::shared_ptr<SqliteHandle> handle,
                 StatementPtr statement, std::vector<tsql::Statement> trailing,
                 std::string cacheKey = {});
  ~EmbeddedRowset() override;

  int ColumnCount() const override { return static_cast<int>(names_.size()); }
  const std::string& ColumnName(int index) const override;
  bool Next() override;
  const Value& Get(int index) const override;
  using Rowset::Get;
  void Close() override;

 private:
  // Ends the statement, runs the trailing statements, returns the reader.
  void Finish(bool runTrailing);

  std::shared_ptr<Session> session_;
  std::shared_ptr<SqliteHandle> handle_;
  StatementPtr statement_;
  std::vector<tsql::Statement> trailing_;
  std::string cacheKey_;
  std::uint64_t generation_ = 0;
  sqlite3_int64 identityBefore_ = 0;  // the reader's last identity when the query began
  std::int64_t rows_ = 0;             // rows returned so far, for @@ROWCOUNT
  std::vector<std::string> names_;
  std::vector<ColumnKind> kinds_;
  std::vector<Value> row_;
  bool onRow_ = false;
};

}  // namespace pv::db::embedded
