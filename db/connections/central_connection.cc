#include "db/connections/central_connection.h"

#include <string_view>

#include "common/text.h"

namespace pv::db {

namespace {

using common::kFieldSeparator;
constexpr long kErrSubscriptOutOfRange = 9;

}  // namespace

ConnectionParams CentralConnectionParams(const CentralConnectionSettings& settings) {
  ConnectionParams p;
  p.server = settings.server;
  p.port = settings.port;
  p.user = settings.userId;
  p.password = settings.password;
  p.database = settings.homeDatabase;
  return p;
}

void ReadCentralConnectionData(const std::string& argument, CentralConnectionSettings& settings) {
  std::string* const fields[] = {&settings.userId, &settings.password, &settings.server,
                                 &settings.homeDatabase, &settings.port};
  std::size_t start = 0;
  for (int index = 0; index < 6; ++index) {
    if (start == std::string::npos) {
      throw DbError(kErrSubscriptOutOfRange, "Subscript out of range: \"DBIN\" holds " +
                                                 std::to_string(index) + " of its six fields");
    }
    const std::size_t sep = argument.find(kFieldSeparator, start);
    const std::size_t end = sep == std::string::npos ? argument.size() : sep;
    if (index < 5) *fields[index] = argument.substr(start, end - start);
    start = sep == std::string::npos ? std::string::npos : sep + kFieldSeparator.size();
  }
}

CentralConnection::CentralConnection(ConnectionFactory factory) : factory_(std::move(factory)) {}

bool CentralConnection::OpenCentralConnection(const CentralConnectionSettings& settings) {
  try {
    connection_.reset();
    connection_ = OpenConnection(factory_, CentralConnectionParams(settings));
    return true;
  } catch (...) {
    return false;
  }
}

void CentralConnection::CloseCentralConnection() { CloseConnection(connection_); }

void CentralConnection::UseInstallationDatabase(const std::string& database) {
  try {
    if (!connection_) return;
    connection_->SetCurrentDatabase(database);
  } catch (...) {
    CreateInstallationDatabase(database);
  }
}

void CentralConnection::CreateInstallationDatabase(const std::string& database) {
  try {
    if (!connection_) return;
    connection_->Execute("Create Database " + database + ";");
    connection_->SetCurrentDatabase(database);
  } catch (...) {
  }
}

bool HandleCentralConnectionData(const std::string& argument, CentralConnectionSettings& settings,
                                 CentralConnection& central) {
  ReadCentralConnectionData(argument, settings);
  if (!central.OpenCentralConnection(settings)) return false;
  central.CloseCentralConnection();
  return true;
}

}  // namespace pv::db
