#include "db/embedded/embedded_rowset.h"

#include "db/embedded/session.h"
#include "db/embedded/sqlite_handle.h"
#include "db/error.h"

namespace pv::db::embedded {

namespace {

constexpr long kErrNoCurrentRow = 3021;

}  // namespace

EmbeddedRowset::EmbeddedRowset(std::shared_ptr<Session> session,
                               std::shared_ptr<SqliteHandle> handle, StatementPtr statement,
                               std::vector<tsql::Statement> trailing, std::string cacheKey)
    : session_(std::move(session)),
      handle_(std::move(handle)),
      statement_(std::move(statement)),
      trailing_(std::move(trailing)),
      cacheKey_(std::move(cacheKey)),
      generation_(session_->generation()),
      identityBefore_(sqlite3_last_insert_rowid(handle_->get())) {
  const int n = sqlite3_column_count(statement_.get());
  names_.reserve(static_cast<std::size_t>(n));
  kinds_.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(statement_.get(), i);
    names_.emplace_back(name ? name : "");
    kinds_.push_back(KindOfDeclaredType(sqlite3_column_decltype(statement_.get(), i)));
  }
}

EmbeddedRowset::~EmbeddedRowset() {
  try {
    Close();
  } catch (...) {
    // A trailing statement's failure has no one left to hear it.
  }
}

const std::string& EmbeddedRowset::ColumnName(int index) const {
  if (index < 0 || index >= ColumnCount()) {
    throw NoSuchColumnError();
  }
  return names_[static_cast<std::size_t>(index)];
}

bool EmbeddedRowset::Next() {
  onRow_ = false;
  if (!statement_) return false;
  if (!session_->IsOpen() || session_->generation() != generation_) {
    Finish(false);
    throw NotOpenError();
  }
  handle_->StartStatement();
  const int rc = sqlite3_step(statement_.get());
  if (rc == SQLITE_ROW) {
    row_.resize(names_.size());
    for (std::size_t i = 0; i < names_.size(); ++i) {
      row_[i] = ReadColumn(statement_.get(), static_cast<int>(i), kinds_[i]);
    }
    onRow_ = true;
    ++rows_;
    return true;
  }
  row_.clear();
  if (rc == SQLITE_DONE) {
    Finish(true);
    return false;
  }
  std::string msg = sqlite3_errmsg(handle_->get());
  // The failing statement with its values, as it was written.
  char* failed = sqlite3_expanded_sql(statement_.get());
  std::string sql = failed ? failed : "";
  sqlite3_free(failed);
  std::shared_ptr<SqliteHandle> handle = handle_;
  Finish(false);
  handle->ThrowError(rc, std::move(msg), sql);
}

const Value& EmbeddedRowset::Get(int index) const {
  if (index < 0 || index >= ColumnCount()) {
    throw NoSuchColumnError();
  }
  if (!onRow_) {
    throw DbError(kErrNoCurrentRow,
                  "Either BOF or EOF is True, or the current record has been deleted. Requested "
                  "operation requires a current record.");
  }
  return row_[static_cast<std::size_t>(index)];
}

void EmbeddedRowset::Close() {
  onRow_ = false;
  row_.clear();
  Finish(true);
}

void EmbeddedRowset::Finish(bool runTrailing) {
  // A statement that writes and returns rows (INSERT ... RETURNING) commits
  // when it is reset, if it was closed before its last row: that commit's
  // failure is the statement's.
  int rc = SQLITE_OK;
  std::string message;
  if (runTrailing && statement_ && handle_ && !sqlite3_stmt_readonly(statement_.get())) {
    rc = sqlite3_reset(statement_.get());
    if (rc != SQLITE_OK) message = sqlite3_errmsg(handle_->get());
  }
  if (runTrailing && rc == SQLITE_OK && !cacheKey_.empty() && statement_ && handle_) {
    sqlite3_reset(statement_.get());
    sqlite3_clear_bindings(statement_.get());
    handle_->cache().Keep(cacheKey_, std::move(statement_));
  }
  statement_.reset();
  if (rc != SQLITE_OK) {
    std::shared_ptr<SqliteHandle> handle = std::move(handle_);
    session_.reset();
    handle->ThrowError(rc, std::move(message));
  }
  if (!session_) return;
  std::shared_ptr<Session> session = std::move(session_);
  std::shared_ptr<SqliteHandle> handle = std::move(handle_);
  std::vector<tsql::Statement> trailing = std::move(trailing_);
  const bool alive = session->IsOpen() && session->generation() == generation_;
  if (!alive) return;
  // An insert made by the query's own batch becomes the connection's last identity.
  if (handle.get() != &session->main()) {
    const sqlite3_int64 last = sqlite3_last_insert_rowid(handle->get());
    if (last != identityBefore_) sqlite3_set_last_insert_rowid(session->main().get(), last);
  }
  tsql::SetRowCount(session->main().get(), rows_);  // @@ROWCOUNT: the rows returned
  session->ReleaseReader(std::move(handle), generation_);
  if (runTrailing && !trailing.empty()) {
    session->RequireUsable();
    session->RunBatch(trailing);
  }
}

}  // namespace pv::db::embedded
