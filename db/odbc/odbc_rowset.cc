#include "db/odbc/odbc_rowset.h"

#include <utility>

#include "db/error.h"
#include "db/odbc/odbc_diagnostics.h"

namespace pv::db::odbc {

namespace {

[[noreturn]] void ThrowClosed() { throw NotOpenError(); }

// The column at `index`, or the collection's failure naming the ordinal.
void RequireColumn(int index, int count) {
  if (index < 0 || index >= count) throw NoSuchColumnError(std::to_string(index));
}

}  // namespace

OdbcRowset::OdbcRowset(std::shared_ptr<OdbcSession> session, Statement stmt,
                       std::vector<ColumnInfo> columns)
    : session_(std::move(session)),
      stmt_(std::move(stmt)),
      columns_(std::move(columns)),
      mode_(Mode::Reading) {
  session_->SetPending(this);
}

OdbcRowset::OdbcRowset() = default;

OdbcRowset::~OdbcRowset() { ReleaseStatement(); }

int OdbcRowset::ColumnCount() const { return static_cast<int>(columns_.size()); }

const std::string& OdbcRowset::ColumnName(int index) const {
  RequireColumn(index, ColumnCount());
  return columns_[static_cast<std::size_t>(index)].name;
}

bool OdbcRowset::Next() {
  onRow_ = false;
  switch (mode_) {
    case Mode::Closed:
      ThrowClosed();
    case Mode::Finished:
      return false;
    case Mode::Buffered:
      if (!buffered_.empty()) {
        row_ = std::move(buffered_.front());
        buffered_.pop_front();
        onRow_ = true;
        return true;
      }
      mode_ = Mode::Finished;
      if (deferredError_) {
        DbError e = std::move(*deferredError_);
        deferredError_.reset();
        throw e;
      }
      return false;
    case Mode::Reading:
      break;
  }
  try {
    if (!FetchRow(row_)) return false;
  } catch (...) {
    ReleaseStatement();
    mode_ = Mode::Finished;
    throw;
  }
  onRow_ = true;
  return true;
}

const Value& OdbcRowset::Get(int index) const {
  RequireColumn(index, ColumnCount());
  if (mode_ == Mode::Closed) ThrowClosed();
  if (!onRow_) {
    throw DbError(kErrNoCurrentRow,
                  "Either BOF or EOF is True, or the current record has been deleted. Requested "
                  "operation requires a current record.");
  }
  return row_[static_cast<std::size_t>(index)];
}

void OdbcRowset::Close() {
  ReleaseStatement();
  buffered_.clear();
  row_.clear();
  onRow_ = false;
  deferredError_.reset();
  mode_ = Mode::Closed;
}

bool OdbcRowset::FetchRow(std::vector<Value>& row) {
  OdbcSession& session = *session_;
  const SQLHSTMT h = stmt_.get();
  const SQLRETURN rc = SQLFetch(h);
  if (rc == SQL_NO_DATA) {
    // The rest of the text runs as its results are consumed; a failure in it
    // is this query's failure.
    for (;;) {
      const SQLRETURN more = SQLMoreResults(h);
      if (more == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(more)) session.Fail(SQL_HANDLE_STMT, h, "SQLMoreResults", more);
    }
    ReleaseStatement();
    mode_ = Mode::Finished;
    return false;
  }
  if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, h, "SQLFetch", rc);
  row.clear();
  row.reserve(columns_.size());
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    row.push_back(ReadValue(session, h, static_cast<SQLUSMALLINT>(i + 1), columns_[i].kind));
  }
  return true;
}

void OdbcRowset::ReleaseStatement() noexcept {
  if (session_) session_->ClearPending(this);
  stmt_.Reset();
}

void OdbcRowset::TakeRemainingRows() {
  if (mode_ != Mode::Reading) return;
  mode_ = Mode::Buffered;
  try {
    std::vector<Value> row;
    while (stmt_) {
      // FetchRow frees the statement at the end of the rows.
      if (!FetchRow(row)) break;
      buffered_.push_back(std::move(row));
    }
  } catch (DbError& e) {
    deferredError_ = std::move(e);
  }
  ReleaseStatement();
  mode_ = Mode::Buffered;
}

void OdbcRowset::Abandon() noexcept {
  stmt_.Reset();
  if (mode_ == Mode::Reading) {
    buffered_.clear();
    onRow_ = false;
    mode_ = Mode::Closed;
  }
}

}  // namespace pv::db::odbc
