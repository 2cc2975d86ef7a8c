// What every synchronisation job (full upload, one queued change, one central
// change) needs from the service host, handed in explicitly so a job can run
// against any pair of connections: the local connection, the central
// connection with its open and close, the identity of the installation, the
// application folder, the log and the server link.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "db/connection.h"

namespace pv::sync {

using WriteLogFn =
    std::function<void(const std::string& message, long number, const std::string& detail)>;

struct JobContext {
  // The local connection (null or closed: the job fails at its first local
  // statement).
  db::Connection* local = nullptr;

  // Opens the central connection with the data of the last "DBIN"; true when
  // it is open.
  std::function<bool()> openCentral;
  // Closes the central connection when it is open.
  std::function<void()> closeCentral;
  // The central connection, valid between openCentral and closeCentral.
  std::function<db::Connection*()> central;

  std::string homeDatabase;    // named by "DBIN"
  std::string installationId;  // argument of the last "VDID", as received
  std::filesystem::path appFolder;

  WriteLogFn writeLog;
  // Sends one message on the server link ("DASN", "UDPH", "SDWE 42§15", ...).
  std::function<void(const std::string& message)> sendMessage;
};

}  // namespace pv::sync
