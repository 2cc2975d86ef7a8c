#include "db/embedded/sqlite_handle.h"

#include <climits>

#include "db/embedded/instance.h"
#include "db/embedded/statement_ptr.h"
#include "db/error.h"
#include "db/tsql/translator.h"
#include "platform/utf8_paths.h"

namespace pv::db::embedded {

namespace {

// The progress handler looks at the clock every this many virtual-machine
// steps: often enough to stop within milliseconds, rare enough to cost nothing.
constexpr int kProgressSteps = 1000;

int BusyMilliseconds(int seconds) {
  if (seconds <= 0) return INT_MAX;
  return seconds > INT_MAX / 1000 ? INT_MAX : seconds * 1000;
}

bool StartsWithWord(const char* sql, const char* word) {
  while (*sql == ' ' || *sql == '\t' || *sql == '\r' || *sql == '\n' || *sql == '(') ++sql;
  for (; *word; ++word, ++sql) {
    char c = *sql;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != *word) return false;
  }
  char next = *sql;
  return !((next >= 'A' && next <= 'Z') || (next >= 'a' && next <= 'z') ||
           (next >= '0' && next <= '9') || next == '_');
}

// The operating system's code of the last failed call: SQLite keeps it per
// file (the database's and its log's) and for the connection only as long as
// nothing else changed errno since. 0 when none is known.
int LastSystemError(sqlite3* db) {
  int error = sqlite3_system_errno(db);
  sqlite3_file* log = nullptr;
  if (error == 0 &&
      sqlite3_file_control(db, "main", SQLITE_FCNTL_JOURNAL_POINTER, &log) == SQLITE_OK && log &&
      log->pMethods && log->pMethods->xFileControl) {  // none for a journal kept in memory
    log->pMethods->xFileControl(log, SQLITE_FCNTL_LAST_ERRNO, &error);
  }
  if (error == 0) sqlite3_file_control(db, "main", SQLITE_FCNTL_LAST_ERRNO, &error);
  return error;
}

}  // namespace

bool ReportsRowCount(sqlite3_stmt* st) {
  if (sqlite3_stmt_readonly(st) || sqlite3_column_count(st) != 0) return false;
  const char* sql = sqlite3_sql(st);
  if (!sql) return false;
  return StartsWithWord(sql, "INSERT") || StartsWithWord(sql, "UPDATE") ||
         StartsWithWord(sql, "DELETE") || StartsWithWord(sql, "REPLACE");
}

bool ChangesSchema(sqlite3_stmt* st) {
  if (sqlite3_stmt_readonly(st)) return false;
  const char* sql = sqlite3_sql(st);
  if (!sql) return false;
  return StartsWithWord(sql, "CREATE") || StartsWithWord(sql, "ALTER") ||
         StartsWithWord(sql, "DROP");
}

std::unique_ptr<SqliteHandle> SqliteHandle::Open(const std::filesystem::path& file,
                                                 int timeoutSeconds, bool mapped) {
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(platform::Utf8FromPath(file).c_str(), &raw,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    // The file was there a moment ago: what keeps it from opening is the
    // system's (no file handle left, no memory, access refused), numbered as
    // any other storage failure (5120, transient) rather than as a login to
    // a database that does not exist.
    const std::string msg =
        platform::Utf8FromPath(file) + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
    const int systemError = raw ? sqlite3_system_errno(raw) : 0;
    sqlite3_close_v2(raw);
    throw tsql::MapError(rc, msg, {}, Instance::DatabaseName(file), systemError);
  }
  std::unique_ptr<SqliteHandle> h(new SqliteHandle(raw, file));
  sqlite3_extended_result_codes(raw, 1);
  h->SetTimeout(timeoutSeconds);
  sqlite3_progress_handler(raw, kProgressSteps, &SqliteHandle::OnProgress, h.get());
  // WAL lets readers and one writer of several programs work at once;
  // NORMAL syncs at checkpoints only, which keeps every committed statement
  // across a killed process (not across a power cut). Reading through a
  // memory map spares a system call per page of a large binary value; the
  // map is kept small because its pages count in the process's resident
  // memory, which must stay low however large the site's databases grow.
  h->StartStatement();
  rc = sqlite3_exec(raw,
                    mapped ? "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                             "PRAGMA mmap_size=16777216;"
                           : "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;",
                    nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) h->ThrowError(rc);
  tsql::Prepare(raw);
  return h;
}

SqliteHandle::~SqliteHandle() {
  cache_.Clear();  // finalized before the connection closes
  sqlite3_close_v2(db_);
}

void SqliteHandle::SetCommitHook(std::function<void(int)> hook) {
  commitHook_ = std::move(hook);
  sqlite3_wal_hook(db_, &SqliteHandle::OnCommit, this);
}

int SqliteHandle::OnCommit(void* self, sqlite3*, const char*, int frames) {
  auto* h = static_cast<SqliteHandle*>(self);
  if (h->commitHook_) h->commitHook_(frames);
  return SQLITE_OK;
}

bool SqliteHandle::FileGone() const {
  if (moved_ || !folder_.Changed()) return moved_;
  // SQLite compares the file at the path with the one it holds open (POSIX;
  // Windows keeps an open database file from being removed).
  int moved = 0;
  moved_ =
      sqlite3_file_control(db_, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK && moved != 0;
  return moved_;
}

void SqliteHandle::SetTimeout(int seconds) {
  timeoutSeconds_ = seconds < 0 ? 0 : seconds;
  sqlite3_busy_timeout(db_, BusyMilliseconds(timeoutSeconds_));
}

void SqliteHandle::StartStatement() {
  deadlineActive_ = timeoutSeconds_ > 0;
  if (deadlineActive_) {
    deadline_ = platform::CoarseClock::now() + std::chrono::seconds(timeoutSeconds_);
  }
}

int SqliteHandle::OnProgress(void* self) {
  auto* h = static_cast<SqliteHandle*>(self);
  if (h->deadlineActive_ && platform::CoarseClock::now() >= h->deadline_) return 1;
  return 0;
}

void SqliteHandle::ThrowError(int rc) { ThrowError(rc, sqlite3_errmsg(db_)); }

void SqliteHandle::ThrowError(int rc, std::string msg, std::string_view sql) {
  // The operating system's code first: the rollback below may replace it.
  const int systemError = LastSystemError(db_);
  if (msg.empty() || msg == "not an error") msg = sqlite3_errstr(rc);
  DbError error = tsql::MapError(rc, msg, sql, Instance::DatabaseName(file_), systemError, db_);
  if (!sqlite3_get_autocommit(db_)) {
    deadlineActive_ = false;  // a deadline already passed must not interrupt the rollback
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  throw error;
}

std::int64_t SqliteHandle::Run(const std::string& sql, std::int64_t affected) {
  if (auto p = Parameterize(sql); p && RunCached(*p, sql, affected)) {
    CheckFile();
    return affected;
  }
  affected = RunText(sql, affected);
  CheckFile();
  return affected;
}

bool SqliteHandle::RunCached(const Parameterized& p, const std::string& sql,
                             std::int64_t& affected) {
  StartStatement();
  sqlite3_stmt* st = cache_.Find(p.text);
  if (st == nullptr) {
    StatementPtr fresh;
    // A text SQLite does not take with parameters runs as it was written.
    if (PrepareStatement(db_, p.text.c_str(), static_cast<int>(p.text.size()), fresh) !=
            SQLITE_OK ||
        !fresh) {
      return false;
    }
    st = cache_.Keep(p.text, std::move(fresh));
  }
  if (sqlite3_bind_parameter_count(st) != static_cast<int>(p.values.size()) ||
      BindAll(st, p.values) != SQLITE_OK) {
    sqlite3_clear_bindings(st);
    cache_.Forget(p.text);
    return false;
  }
  std::int64_t rows = 0;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) ++rows;
  if (rc != SQLITE_DONE) {
    std::string msg = sqlite3_errmsg(db_);
    // The failing statement with its values, as it was written.
    char* expanded = sqlite3_expanded_sql(st);
    std::string text = expanded != nullptr ? expanded : sql;
    sqlite3_free(expanded);
    sqlite3_reset(st);
    sqlite3_clear_bindings(st);
    ThrowError(rc, std::move(msg), text);
  }
  if (ReportsRowCount(st)) affected = rows = sqlite3_changes64(db_);
  tsql::AfterStatement(db_, st, rows);
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  return true;
}

void SqliteHandle::CheckFile() const {
  if (FileGone()) {
    throw DbError(kErrLinkFailure, "Communication link failure: the database '" +
                                       Instance::DatabaseName(file_) +
                                       "' was dropped while the connection used it.");
  }
}

std::int64_t SqliteHandle::RunText(const std::string& sql, std::int64_t affected) {
  const char* tail = sql.c_str();
  const char* end = tail + sql.size();
  while (tail < end) {
    StatementPtr st;
    StartStatement();
    int rc = PrepareStatement(db_, tail, static_cast<int>(end - tail), st, &tail);
    if (rc != SQLITE_OK) ThrowError(rc, sqlite3_errmsg(db_), sql);
    if (!st) continue;  // blanks or a comment
    std::int64_t rows = 0;
    while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) ++rows;
    if (rc != SQLITE_DONE) {
      std::string msg = sqlite3_errmsg(db_);
      const char* failed = sqlite3_sql(st.get());
      std::string text = failed ? failed : "";
      st.reset();
      ThrowError(rc, std::move(msg), text);
    }
    if (ReportsRowCount(st.get())) {
      affected = rows = sqlite3_changes64(db_);
    } else if (ChangesSchema(st.get())) {
      schemaChanged_ = true;
    }
    tsql::AfterStatement(db_, st.get(), rows);
  }
  return affected;
}

}  // namespace pv::db::embedded
