// The full upload: on the central server's order "DATR" the whole local data
// set is copied to the central side in one run. The installation's row in the
// home database's Installations table is refreshed, its Emails rows there are
// replaced, the installation database is made to exist with its tables and
// views (emptied, except PinkNotes), and ten local tables are copied into it
// row by row, every photo passing through a temp photo file. "DASN" tells the
// central server that the run completed; a failure is logged as
// "TransferDataToCX()" and sends nothing.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sync/job_host.h"

namespace pv::sync {

enum class FullUploadResult {
  Completed,      // "DASN" sent, central connection closed
  NotConnected,   // the central connection did not open: nothing logged or sent
  WrongDatabase,  // the installation database is not current: connection closed, nothing logged
  Failed,         // "TransferDataToCX()" logged, central connection closed, nothing sent
  Stopped,        // the service is stopping: ended between two statements, logged, nothing sent
};

// The text logged with "TransferDataToCX()" when a stop request ends a run;
// the central server orders the upload again after the restart.
inline constexpr const char* kStoppedText =
    "the service is stopping; the full upload ended unfinished";

// What one run copied: rows per table in the order copied, and photos.
struct FullUploadCounts {
  std::vector<std::pair<std::string, long>> rows;
  long photos = 0;
};

// Runs the whole upload to completion on the calling thread; `counts`, when
// given, receives what was copied (also by a run that ended early).
FullUploadResult TransferDataToCX(JobHost& host, FullUploadCounts* counts = nullptr);

}  // namespace pv::sync
