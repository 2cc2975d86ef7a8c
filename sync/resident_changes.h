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

// Runs `insert` and reads the identity it gave its row in the same command
// (SCOPE_IDENTITY()), so a concurrent writer cannot make it another row's id;
// 0 when the command reports none.
std::int64_t InsertReturningId(db::Connection& connection, const std::string& insert);

// "NamesA": the first central resident with a negative id becomes a local
// resident; "SDWE " + installation id + "§" + new id when its e-mail row was
// made locally.
void ApplyNamesA(ChangeScope& scope);

// "NamesU" for resident `recordId` (a whole number in decimal).
void ApplyNamesU(ChangeScope& scope, const std::string& recordId);

}  // namespace pv::sync
