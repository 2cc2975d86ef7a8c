// The two central changes that concern the resident record itself:
// "NamesA" inserts a resident made on the central side, whose central rows
// carry a negative id until then, and renumbers the central copies to the id
// the local database gave it; "NamesU" copies a centrally edited resident's
// name fields and reconciles its e-mail row between the two sides. Both run
// inside TransferDataFromCX and fail through its failure path (they throw
// db::DbError).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "db/connection.h"
#include "sync/job_host.h"

namespace pv::sync {

// What one change works with: both connections, the databases to switch
// between and the values of the change order.
struct ChangeScope {
  JobHost& host;
  db::Connection& local;
  db::Connection& central;
  std::string installationDatabase;  // "Installation" + installation number

  void UseInstallationDatabase() { central.SetCurrentDatabase(installationDatabase); }
  void UseHomeDatabase() { central.SetCurrentDatabase(host.HomeDatabase()); }
  // The installation id where it stands bare in a statement; DbError when it
  // is not a whole number.
  std::string InstallationId() const;
  void Send(const std::string& message) const { host.SendToCentral(message); }
};

// Runs `insert` (a row of `table`) and reads the identity it gave its row in
// the same command (SCOPE_IDENTITY()), so a concurrent writer cannot make it
// another row's id. A table without an identity column reports Null: then
// the largest id of `table` (GetTopID) is the new row's. DbError when there
// is none either, never a silent 0.
std::int64_t InsertReturningId(db::Connection& connection, const std::string& table,
                               const std::string& insert);

// The local row that an earlier delivery of a central insert left behind: it
// inserted the row and stopped before the central row took the new id. Among
// the local rows of `table` that satisfy `match` (a condition) and no local
// queued change of the kind `queuedKind` names (its resId or recordId
// column, `queuedColumn`, holding the id: those are the site's own new rows
// on their way up), the newest whose id no central row of `table` has
// (central: installation database current). 0 when there is none.
std::int64_t RowLeftByEarlierDelivery(ChangeScope& scope, const std::string& table,
                                      const std::string& match, const std::string& queuedKind,
                                      const std::string& queuedColumn);

// "NamesA": the first central resident with a negative id becomes a local
// resident; "SDWE " + installation id + "§" + new id when its e-mail row was
// made locally. Delivered again after a stop half-way, it goes on with the
// local row the first delivery made instead of inserting a second one; the
// central Names row takes the new id last, so until then the change is found
// again.
void ApplyNamesA(ChangeScope& scope);

// "NamesU" for resident `recordId` (a whole number in decimal).
void ApplyNamesU(ChangeScope& scope, const std::string& recordId);

}  // namespace pv::sync
