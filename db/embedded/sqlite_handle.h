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

namespace pv::db::embedded {

class SqliteHandle {
 public:
  // Opens an existing database file; throws DbError on failure.
  static std::unique_ptr<SqliteHandle> Open(const std::filesystem::path& file, int timeoutSeconds);
  ~SqliteHandle();
  SqliteHandle(const SqliteHandle&) = delete;
  SqliteHandle& operator=(const SqliteHandle&) = delete;

  sqlite3* get() const { return db_; }
  const std::filesystem::path& file() const { return file_; }

  // The command timeout: bounds every statement started after StartStatement
  // and the wait for another program's lock. 0 = no limit.
  void SetTimeout(int seconds);
  void StartStatement();

  // Throws the DbError for a failed SQLite call: the timeout when the
  // deadline interrupted it, 1222 for a lock wait that ran out, otherwise
  // SQL Server's number as the T-SQL front maps it.
  // `sql` is the statement that failed, when known.
  [[noreturn]] void ThrowError(int rc) const;
  [[noreturn]] void ThrowError(int rc, std::string message, std::string_view sql = {}) const;

  // Runs a SQLite text that may hold several statements, stepping each to
  // its end. Returns the rows changed by the last INSERT, UPDATE or DELETE,
  // or `affected` unchanged when none ran.
  std::int64_t Run(const std::string& sql, std::int64_t affected = -1);

  // Called after every commit with the size of the write-ahead log in pages;
  // replaces SQLite's automatic checkpoint for this handle.
  void SetCommitHook(std::function<void(int frames)> hook);

  // True once after Run executed CREATE, ALTER or DROP.
  bool TakeSchemaChanged() {
    bool changed = schemaChanged_;
    schemaChanged_ = false;
    return changed;
  }

 private:
  SqliteHandle(sqlite3* db, std::filesystem::path file) : db_(db), file_(std::move(file)) {}
  static int OnProgress(void* self);
  static int OnCommit(void* self, sqlite3* db, const char* schema, int frames);

  sqlite3* db_;
  std::filesystem::path file_;
  int timeoutSeconds_ = 0;
  bool deadlineActive_ = false;
  bool timedOut_ = false;
  bool schemaChanged_ = false;
  std::function<void(int)> commitHook_;
  std::chrono::steady_clock::time_point deadline_{};
};

// True when the statement changes rows and reports a count as SQL Server
// does (INSERT, UPDATE, DELETE, REPLACE).
bool ReportsRowCount(sqlite3_stmt* st);
// True for CREATE, ALTER and DROP.
bool ChangesSchema(sqlite3_stmt* st);

}  // namespace pv::db::embedded
