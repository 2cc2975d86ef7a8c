// The local database connection: opened from the settings at start, shared by
// everything that reads or writes local tables, probed every minute and
// reopened after a failure.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "common/log_fn.h"
#include "db/connection.h"

namespace pv::db {

// Makes a new, unopened connection of the configured engine.
using ConnectionFactory = std::function<std::unique_ptr<Connection>()>;

// Makes a new connection with `factory` and opens it with `params`; the
// factory's engine options carry the time-outs. Throws what the engine throws.
std::unique_ptr<Connection> OpenConnection(const ConnectionFactory& factory,
                                           const ConnectionParams& params);

// Closes and releases `connection` when it is open; one that is already
// closed is left as it is. A failure to close releases it all the same.
void CloseConnection(std::unique_ptr<Connection>& connection) noexcept;

inline constexpr const char* kLocalServer = "localhost";
inline constexpr const char* kLocalDatabase = "Portavento";

// The login as read from the settings at each open. Empty user and port take
// the defaults "sa" and "1433". A password that could not be decoded is given
// as a failure: `passwordError` holds its description.
struct LocalLogin {
  std::string user;
  std::string password;
  std::string port;
  std::string passwordError;
};

// Server "localhost", database "Portavento", defaults applied.
ConnectionParams LocalConnectionParams(const LocalLogin& login);

class LocalConnection {
 public:
  LocalConnection(ConnectionFactory factory, std::function<LocalLogin()> readLogin,
                  common::LogFn log);

  // Reads the settings, replaces the connection with a new one and opens it
  // (the time-outs are the factory's). On failure logs "Open_cn" with the number and
  // description and returns false.
  bool Open_cn();

  // Closes and releases the connection when it is open; a connection that is
  // already closed is left as it is.
  void Close_cn();

  // "Select GetDate()"; any failure (no connection included) closes it.
  void ProbeLocalDatabase();

  // The database side of one supervision tick: probe, and reopen when there
  // is no open connection.
  enum class Supervision {
    Open,      // the connection was open and answered
    Reopened,  // it had gone and opened again: the link comes back
    Failed,    // it could not be opened: the link goes off
  };
  Supervision SuperviseLocalDatabase();

  bool IsOpen() const { return connection_ && connection_->IsOpen(); }
  // The connection object (open or not); nullptr when there is none.
  Connection* get() const { return connection_.get(); }
  // The connection when it is open; nullptr otherwise.
  Connection* open() const { return IsOpen() ? connection_.get() : nullptr; }

 private:
  ConnectionFactory factory_;
  std::function<LocalLogin()> readLogin_;
  common::LogFn log_;
  std::unique_ptr<Connection> connection_;
};

}  // namespace pv::db
