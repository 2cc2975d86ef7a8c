// The rows of one ODBC query, read one at a time from the server. When
// another statement needs the connection first, the rows not yet read are
// taken into memory (see PendingRows) and the walk goes on from there.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/odbc/odbc_session.h"
#include "db/odbc/odbc_values.h"

namespace pv::db::odbc {

class OdbcRowset final : public Rowset, private PendingRows {
 public:
  // Takes a statement positioned on a result with the given columns and
  // registers with the session as its reading rowset.
  OdbcRowset(std::shared_ptr<OdbcSession> session, Statement stmt, std::vector<ColumnInfo> columns);
  // A rowset without columns or rows (a text that returned no result set).
  OdbcRowset();
  ~OdbcRowset() override;

  int ColumnCount() const override;
  const std::string& ColumnName(int index) const override;
  bool Next() override;
  const Value& Get(int index) const override;
  void Close() override;

 private:
  enum class Mode { Reading, Buffered, Finished, Closed };

  // Reads the next row from the statement into `row`; false at the end, when
  // the remaining results of the text are consumed and the statement freed.
  bool FetchRow(std::vector<Value>& row);
  void ReleaseStatement() noexcept;
  void TakeRemainingRows() override;
  void Abandon() noexcept override;

  std::shared_ptr<OdbcSession> session_;
  Statement stmt_;
  std::vector<ColumnInfo> columns_;
  Mode mode_ = Mode::Finished;
  std::vector<Value> row_;
  bool onRow_ = false;
  std::deque<std::vector<Value>> buffered_;
  std::optional<DbError> deferredError_;  // met while taking the remaining rows
};

}  // namespace pv::db::odbc
