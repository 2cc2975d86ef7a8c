// Upload of one queued change: one row of the local UpdateQueue names a change
// kind ("NamesU", "PackagesA", ...) and the resident (resId) and row
// (recordId) it concerns. TransferResDataToCX re-reads the current local rows
// and rewrites the matching central rows, or sends a notice to the central
// server, then deletes the queue row. A change whose upload fails is logged as
// "TransferResDataToCX()", dropped from the queue and recorded in the
// failed-changes file; while the central database cannot be reached, or when
// a server, connection or storage fails for now (db::IsTransient), the row
// stays for a later tick.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "sync/central_job.h"
#include "sync/job_host.h"

namespace pv::sync {

// One row of the local UpdateQueue, its numbers read as 32-bit integers.
struct QueuedChange {
  std::int32_t id = 0;
  std::string tableName;
  std::int32_t resId = 0;
  std::int32_t recordId = 0;
};

enum class ChangeResult {
  Uploaded,      // the kind's work done (or an unknown kind), queue row removed
  NotConnected,  // the central connection did not open: row kept, nothing logged
  Deferred,      // a server, connection or storage was away for now: row kept for a later try
  Failed,        // logged, central connection closed, row removed and recorded
  NotRemoved,    // the work ended but the queue row could not be deleted
};

// Uploads one change and deletes its queue row (see the file comment).
// `reuseCentral`: within a drain one central connection serves row after
// row — a change that succeeds leaves it open for the next one, and a
// connection found open is first probed and, when it no longer answers,
// closed and opened again (so an unreachable server still keeps the row). A
// failed change closes it as always.
// A failure that says a server, a connection or its storage is away for now
// (db::IsTransient) keeps the row and gives Deferred; it is logged here unless
// `deferred` is given, which then receives it (the drain logs an outage
// once). `mailRoom`, when given, keeps whether the local Names table has its
// mail-room column from one change of a drain to the next.
ChangeResult TransferResDataToCX(JobHost& host, const QueuedChange& change,
                                 bool reuseCentral = false, JobFailure* deferred = nullptr,
                                 std::optional<bool>* mailRoom = nullptr);

}  // namespace pv::sync
