// What every synchronisation job — the full upload, one queued change, one
// central change and the update-queue drain — needs from the service that
// runs it: the two connections, the identity of the installation, the
// application folder, the log and the server link. The service host
// implements it; tests implement it over their own sites.
#pragma once

#include <filesystem>
#include <string>

#include "db/connection.h"
#include "db/connections/central_connection.h"

namespace pv::sync {

class JobHost {
 public:
  virtual ~JobHost() = default;

  // The local connection when it is open; nullptr otherwise.
  virtual db::Connection* LocalConnection() = 0;
  // The central connection, opened for one job (or one drain of the update
  // queue) and closed after it.
  virtual db::CentralConnection& Central() = 0;
  // Opens the central connection with the data of the last "DBIN"; true when
  // it is open.
  virtual bool OpenCentral() = 0;

  // The home database named by the last "DBIN".
  virtual std::string HomeDatabase() const = 0;
  // The argument of the last "VDID", as received.
  virtual std::string InstallationId() const = 0;
  virtual std::filesystem::path AppFolder() const = 0;
  // The password of the local connection, recorded centrally by the full
  // upload.
  virtual std::string LocalPassword() const = 0;
  // True while a new drain of the update queue may start (the link is up and
  // the installation confirmed); a drain already running completes its pass.
  virtual bool UpdateQueueActive() const = 0;
  // True once the service has been asked to stop: long work (the full
  // upload, the update-queue drain) ends at the next statement boundary,
  // leaving what is unfinished to be done again after the restart. It may
  // turn true while a job runs (set from the thread that took the request).
  virtual bool StopRequested() const { return false; }
  // How many rows of a table the full upload sends in one central
  // transaction; 1 or less commits every statement alone.
  virtual int UploadBatchRows() const { return kDefaultUploadBatchRows; }
  static constexpr int kDefaultUploadBatchRows = 500;

  // One line of the daily log.
  virtual void WriteLog(const std::string& message, long number, const std::string& detail) = 0;
  // Sends one message on the server link ("DASN", "SDWE 42§15", ...).
  virtual void SendToCentral(const std::string& text) = 0;
  // A drain of the update queue ended having worked `sent` changes through
  // and dropped `failed` ones (recorded in FailedChanges.txt); called only
  // when it did something.
  virtual void DrainEnded(long /*sent*/, long /*failed*/) {}
};

}  // namespace pv::sync
