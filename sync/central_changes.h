// Applying one change made on the central side. The central server records
// each change as a row of the home database's UpdateQueue and sends "UPDA"
// with four fields, "§"-separated: the queue row's id, the record id (the
// resident the change concerns), the change kind and the item id (the
// additional photo, where the kind has one). TransferDataFromCX reads the
// changed central rows, rewrites the matching local rows, reports e-mail rows
// it made or changed with "SDWE " / "SDWC ", and deletes the central queue
// row, also after a failure of the change itself (logged as
// "TransferDataFromCX()"). When the central database cannot be reached the
// queue row stays, unlogged; when a server, connection or storage fails for
// now in the middle of the change (db::IsTransient) it stays too, logged.
#pragma once

#include <string>

#include "sync/job_host.h"

namespace pv::sync {

enum class CentralChangeResult {
  Applied,       // a handling ran to its end; queue row deleted, connection closed
  UnknownKind,   // no handling matched; queue row deleted, connection closed
  NotConnected,  // the central connection did not open: nothing logged, queue row kept
  Deferred,      // a server, connection or storage was away for now: logged, queue row kept
  Failed,        // "TransferDataFromCX()" logged; queue row deleted, connection closed
};

// Handles one "UPDA" argument to completion on the calling thread.
CentralChangeResult TransferDataFromCX(JobHost& host, const std::string& argument);

// The central queue row id of field 1 as a number: leading blanks, an
// optional sign, digits and an optional fraction, rounded to a 32-bit
// integer; 0 when there are no digits or the value does not fit.
int QueueRowIdOf(const std::string& field);

}  // namespace pv::sync
