// The full upload: on the central server's order "DATR" the whole local data
// set is copied to the central side in one run. The installation's row in the
// home database's Installations table is refreshed, its Emails rows there are
// replaced, the installation database is made to exist with its tables and
// views (emptied, except PinkNotes), and ten local tables are copied into it
// row by row, every photo passing through a temp photo file. "DASN" tells the
// central server that the run completed; a failure is logged as
// "TransferDataToCX()" and sends nothing.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "db/connection.h"

namespace pv::sync {

using WriteLogFn =
    std::function<void(const std::string& message, long number, const std::string& detail)>;

// What the run needs from the service host, handed in explicitly.
struct FullUploadContext {
  // The local connection (may be null or closed: the run then fails at its
  // first local read, after the central side is prepared).
  db::Connection* local = nullptr;

  // Opens the central connection with the data of the last "DBIN"; true when
  // it is open.
  std::function<bool()> openCentral;
  // Closes the central connection when it is open.
  std::function<void()> closeCentral;
  // The central connection, valid between openCentral and closeCentral.
  std::function<db::Connection*()> central;
  // Makes "Installation" + number the central connection's current database,
  // creating it when it is missing; silent on failure (the run reads the
  // current database back).
  std::function<void(const std::string& installationNumber)> useInstallationDatabase;

  std::string homeDatabase;    // named by "DBIN"
  std::string installationId;  // argument of the last "VDID", as received
  std::string localPassword;   // password of the local connection
  std::filesystem::path appFolder;

  WriteLogFn writeLog;
  // Sends one message on the server link ("DASN").
  std::function<void(const std::string& message)> sendMessage;
};

enum class FullUploadResult {
  Completed,      // "DASN" sent, central connection closed
  NotConnected,   // the central connection did not open: nothing logged or sent
  WrongDatabase,  // the installation database is not current: connection closed, nothing logged
  Failed,         // "TransferDataToCX()" logged, central connection closed, nothing sent
};

// Runs the whole upload to completion on the calling thread.
FullUploadResult TransferDataToCX(const FullUploadContext& context);

}  // namespace pv::sync
