// One open SQLite database file with the embedded engine's settings: WAL
// journal, synchronous=NORMAL (a committed statement survives a killed
// process), a busy timeout (other programs use the same files at once), the
// T-SQL front's functions, and a deadline enforced by a progress handler.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "db/embedded/statement_cache.h"
#include "platform/coarse_clock.h"
#include "platform/folder_watch.h"

namespace pv::db::embedded {

class SqliteHandle {
 public:
  // Opens an existing database file; throws DbError on failure. `mapped`
  // reads the file through a memory map (see Open).
  static std::unique_ptr<SqliteHandle> Open(const std::filesystem::path& file, int timeoutSeconds,
                                            bool mapped = true);
  ~SqliteHandle();
  SqliteHandle(const SqliteHandle&) = delete;
  SqliteHandle& operator=(const SqliteHandle&) = delete;

  sqlite3* get() const { return db_; }
  const std::filesystem::path& file() const { return file_; }

  // The command timeout: bounds every statement started after StartStatement
  // and the wait for another program's lock. 0 = no limit.
  void SetTimeout(int seconds);
  void StartStatement();

  // Throws the DbError for a failed SQLite call, numbered by the T-SQL front
  // (tsql::MapError, the one place SQLite's codes become SQL Server's): the
  // query timeout when the deadline interrupted it, 1222 for a lock wait that
  // ran out, 1105 for a full disk, 823 for another I/O error, ...
  // `sql` is the statement that failed, when known.
  // A failure inside an explicit transaction rolls the whole transaction
  // back first, as SQL Server does with XACT_ABORT ON. SQLite itself may or
  // may not have rolled it back (it does after a full disk or an I/O error
  // in some cases, not after others): either way the caller's next
  // statements would run outside the transaction it believes open, or
  // inside one that nobody commits and that is lost when the connection
  // closes although each of them reported success.
  [[noreturn]] void ThrowError(int rc);
  [[noreturn]] void ThrowError(int rc, std::string message, std::string_view sql = {});

  // Runs a SQLite text that may hold several statements, stepping each to
  // its end. Returns the rows changed by the last INSERT, UPDATE or DELETE,
  // or `affected` unchanged when none ran. Fails with 10054 when the file was
  // dropped meanwhile (FileGone): its commits did not land anywhere. One
  // INSERT, UPDATE or DELETE runs as a prepared statement of the handle's
  // cache, its literals bound as values (statement_cache.h).
  std::int64_t Run(const std::string& sql, std::int64_t affected = -1);

  // True when the database file was removed (Drop Database by another
  // connection) or replaced since this handle opened it: what the handle
  // commits from then on goes to the removed file and is lost with it.
  bool FileGone() const;

  // Called after every commit with the size of the write-ahead log in pages;
  // replaces SQLite's automatic checkpoint for this handle.
  void SetCommitHook(std::function<void(int frames)> hook);

  // The prepared statements of the handle's queries (statement_cache.h).
  StatementCache& cache() { return cache_; }

  // True once after Run executed CREATE, ALTER or DROP.
  bool TakeSchemaChanged() {
    bool changed = schemaChanged_;
    schemaChanged_ = false;
    return changed;
  }

 private:
  SqliteHandle(sqlite3* db, std::filesystem::path file)
      : db_(db), file_(std::move(file)), folder_(file_.parent_path()) {}
  static int OnProgress(void* self);
  // Run for one statement whose literals were taken out; false when the
  // statement cannot run that way (then Run prepares the text as it is).
  bool RunCached(const Parameterized& p, const std::string& sql, std::int64_t& affected);
  std::int64_t RunText(const std::string& sql, std::int64_t affected);
  // The end of every Run: the file must still be there.
  void CheckFile() const;
  static int OnCommit(void* self, sqlite3* db, const char* schema, int frames);

  sqlite3* db_;
  std::filesystem::path file_;
  int timeoutSeconds_ = 0;
  bool deadlineActive_ = false;
  bool schemaChanged_ = false;
  std::function<void(int)> commitHook_;
  StatementCache cache_;
  // FileGone probes the file only when its folder may have changed; a file
  // once moved stays so.
  mutable platform::FolderWatch folder_;
  mutable bool moved_ = false;
  platform::CoarseClock::time_point deadline_{};
};

// True when the statement changes rows and reports a count as SQL Server
// does (INSERT, UPDATE, DELETE, REPLACE).
bool ReportsRowCount(sqlite3_stmt* st);
// True for CREATE, ALTER and DROP.
bool ChangesSchema(sqlite3_stmt* st);

}  // namespace pv::db::embedded
