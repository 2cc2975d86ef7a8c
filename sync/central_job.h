// One job's hold on its connections, shared by the full upload, the queued
// changes and the central changes: it opens the central connection (or keeps
// the one the previous change of a drain left open, when it still answers),
// hands out the local and central connections for the job's statements,
// logs the job's failure under the job's routine name and closes the central
// connection quietly.
#pragma once

#include <exception>
#include <string>

#include "common/log_fn.h"
#include "db/connection.h"
#include "sync/job_host.h"

namespace pv::sync {

// A failure as the daily log and the failed-changes file record it: the
// engine's number and description for a DbError, 0 and the text otherwise.
struct JobFailure {
  long number = 0;
  std::string description;
};
JobFailure FailureOf(const std::exception& e);

class CentralJob {
 public:
  // `routine` names the job in its log line ("TransferDataToCX()").
  CentralJob(JobHost& host, const char* routine) : host_(host), routine_(routine) {}

  // Opens the central connection; false when it cannot be opened (nothing
  // is logged: the work stays for a later try). With `reuse`, a connection
  // found open is first probed ("Select 1") and kept when it answers; one
  // that no longer answers is closed and opened again.
  bool Open(bool reuse = false);

  // The connections for the job's statements; DbError 3704 naming the
  // database ("local database", "central database") when it is not there.
  db::Connection& Local() const;
  db::Connection& Central() const;

  // Closes the central connection; a connection that cannot be closed is
  // replaced by the next open, so there is nothing to undo.
  void Close() noexcept;

  // Logs `failure` as "<routine> - <number> - <description>".
  void Log(const JobFailure& failure) const;

  JobHost& host() const { return host_; }
  // The host's log as a function, for the layers below that take one.
  common::LogFn LogFn() const;

 private:
  JobHost& host_;
  const char* routine_;
};

// `host`'s daily log as a function, for the layers below that take one.
common::LogFn LogTo(JobHost& host);

// True when the local Names table has its mailRoomID column (a site with a
// mail room).
bool HasMailRoom(db::Connection& local);

// Index of `column` in `rows`; DbError 3265 naming "<table>.<column>" when
// the rows have no such column.
int ColumnIndex(const db::Rowset& rows, const std::string& table, const std::string& column);

}  // namespace pv::sync
