#include "db/connections/local_connection.h"

#include <exception>

namespace pv::db {

ConnectionParams LocalConnectionParams(const LocalLogin& login) {
  ConnectionParams p;
  p.server = kLocalServer;
  p.port = login.port.empty() ? "1433" : login.port;
  p.user = login.user.empty() ? "sa" : login.user;
  p.password = login.password;
  p.database = kLocalDatabase;
  return p;
}

LocalConnection::LocalConnection(ConnectionFactory factory, std::function<LocalLogin()> readLogin,
                                 common::LogFn log)
    : factory_(std::move(factory)), readLogin_(std::move(readLogin)), log_(std::move(log)) {}

bool LocalConnection::Open_cn() {
  try {
    const LocalLogin login = readLogin_();
    connection_.reset();
    connection_ = factory_();
    if (!login.passwordError.empty()) throw DbError(kErrTypeMismatch, login.passwordError);
    connection_->Open(LocalConnectionParams(login));
    return true;
  } catch (const DbError& e) {
    if (log_) log_("Open_cn", e.number(), e.description());
  } catch (const std::exception& e) {
    if (log_) log_("Open_cn", 0, e.what());
  }
  return false;
}

void LocalConnection::Close_cn() { CloseConnection(connection_); }

std::unique_ptr<Connection> OpenConnection(const ConnectionFactory& factory,
                                           const ConnectionParams& params) {
  std::unique_ptr<Connection> connection = factory();
  connection->Open(params);
  return connection;
}

void CloseConnection(std::unique_ptr<Connection>& connection) noexcept {
  try {
    if (connection && connection->IsOpen()) {
      connection->Close();
      connection.reset();
    }
  } catch (...) {
    connection.reset();
  }
}

void LocalConnection::ProbeLocalDatabase() {
  try {
    if (!connection_) throw DbError(kErrNotOpen, "No local connection");
    auto rows = connection_->Query("Select GetDate()");
    rows->Close();
  } catch (...) {
    Close_cn();
  }
}

LocalConnection::Supervision LocalConnection::SuperviseLocalDatabase() {
  ProbeLocalDatabase();
  if (IsOpen()) return Supervision::Open;
  return Open_cn() ? Supervision::Reopened : Supervision::Failed;
}

}  // namespace pv::db
