// The embedded engine: "a SQL Server on disk" built on SQLite.
//
// Layout under the data root (<local application-data folder>/sql):
//
//   <root>/<server>,<port>/          one instance, e.g. "localhost,1433"
//     logins                         its logins, one per line (hex user ':' hex password)
//     <Database>.sqlite              one SQLite file per database, named as created
//     master.sqlite                  the database a login lands in when none is named
//     offline                        marker file: while it exists the instance is "stopped"
//
// The server part of the folder name is lower-case; "localhost", "127.0.0.1",
// "::1", "(local)" and "." all name this machine and share the folder
// "localhost,<port>". Characters outside [a-z0-9._-] are written as %XX.
// Connections to a missing or offline instance fail like an unreachable SQL
// Server (number 17); a connection that is open when its instance goes
// offline fails its next statement (number 10054) and is closed.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "db/connection.h"

namespace pv::db::embedded {

// A connection of the embedded engine; instances live under `root`.
std::unique_ptr<Connection> MakeEmbeddedConnection(const std::filesystem::path& root);

// For a client that runs one batch statement by statement on `connection`
// (pvsql, to print every result set): while on, the variables declared by
// one statement stay for the next, as they do within a batch; off at the
// batch's end. Nothing for a connection of another engine.
void KeepBatchVariables(Connection& connection, bool on);

// The instance folder for server and port (whether or not it exists); throws
// DbError 17 when the port is not a number from 1 to 65535.
std::filesystem::path InstanceFolder(const std::filesystem::path& root, const std::string& server,
                                     const std::string& port);

// Creates the instance with the login "sa" (empty password) and its master
// database. An instance that already exists is left as it is.
void CreateInstance(const std::filesystem::path& root, const std::string& server,
                    const std::string& port);

bool InstanceExists(const std::filesystem::path& root, const std::string& server,
                    const std::string& port);

// Creates the login or changes its password (login names ignore case).
// Throws DbError 17 when the instance does not exist.
void SetLogin(const std::filesystem::path& root, const std::string& server, const std::string& port,
              const std::string& user, const std::string& password);

// Takes the instance offline (writes the marker) or back online (removes it).
// Throws DbError 17 when the instance does not exist.
void SetOnline(const std::filesystem::path& root, const std::string& server,
               const std::string& port, bool online);

bool IsOnline(const std::filesystem::path& root, const std::string& server,
              const std::string& port);

}  // namespace pv::db::embedded
