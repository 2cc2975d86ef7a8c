// The central database connection. Its data arrive only with the central
// server's "DBIN" order and are kept in memory, never on disk; every job that
// works on the central side opens the connection at its start and closes it
// at its end.
#pragma once

#include <memory>
#include <string>

#include "db/connection.h"
#include "db/connections/local_connection.h"

namespace pv::db {

struct CentralConnectionSettings {
  std::string userId;
  std::string password;
  std::string server;
  std::string homeDatabase;
  std::string port;
};

// The connection fields for the settings (the home database is the initial
// database).
ConnectionParams CentralConnectionParams(const CentralConnectionSettings& settings);

// Stores the fields of a "DBIN" argument, "§"-separated: user id, password,
// server, home database, port, and a sixth field that is not used. Each field
// replaces its stored value as it is read; with fewer than six fields the
// fields read so far stay replaced and DbError 9 is thrown. Fields after the
// sixth are ignored.
void ReadCentralConnectionData(const std::string& argument, CentralConnectionSettings& settings);

class CentralConnection {
 public:
  explicit CentralConnection(ConnectionFactory factory);

  // Replaces the connection with a new one and opens it with the settings
  // (the time-outs are the factory's). False on any failure; nothing is
  // logged.
  bool OpenCentralConnection(const CentralConnectionSettings& settings);

  // Closes and releases the connection when it is open; a connection that is
  // not open is left as it is.
  void CloseCentralConnection();

  // Makes the installation's database (InstallationDatabaseName) the current
  // database, creating it when switching fails. Silent; the caller reads the
  // current database back.
  void UseInstallationDatabase(const std::string& database);

  // "Create Database <database>;", then switches to it. Silent.
  void CreateInstallationDatabase(const std::string& database);

  bool IsOpen() const { return connection_ && connection_->IsOpen(); }
  // The connection object; nullptr when there is none.
  Connection* get() const { return connection_.get(); }

 private:
  ConnectionFactory factory_;
  std::unique_ptr<Connection> connection_;
};

// The "DBIN" order: stores the data, opens the central connection as a test
// and closes it again. True when it opened (the caller answers "DBCN").
// Throws DbError 9 for fewer than six fields, before any connection is tried.
bool HandleCentralConnectionData(const std::string& argument, CentralConnectionSettings& settings,
                                 CentralConnection& central);

}  // namespace pv::db
