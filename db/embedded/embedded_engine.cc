#include "db/embedded/embedded_engine.h"

#include "db/embedded/embedded_connection.h"
#include "db/embedded/instance.h"

namespace pv::db::embedded {

std::unique_ptr<Connection> MakeEmbeddedConnection(const std::filesystem::path& root) {
  return std::make_unique<EmbeddedConnection>(root);
}

void KeepBatchVariables(Connection& connection, bool on) {
  if (auto* embedded = dynamic_cast<EmbeddedConnection*>(&connection)) {
    embedded->KeepBatchVariables(on);
  }
}

std::filesystem::path InstanceFolder(const std::filesystem::path& root, const std::string& server,
                                     const std::string& port) {
  return Instance(root, server, port).folder();
}

void CreateInstance(const std::filesystem::path& root, const std::string& server,
                    const std::string& port) {
  Instance(root, server, port).Create();
}

bool InstanceExists(const std::filesystem::path& root, const std::string& server,
                    const std::string& port) {
  try {
    return Instance(root, server, port).Exists();
  } catch (const DbError&) {
    return false;  // a port that names no instance
  }
}

void SetLogin(const std::filesystem::path& root, const std::string& server, const std::string& port,
              const std::string& user, const std::string& password) {
  Instance(root, server, port).SetLogin(user, password);
}

void SetOnline(const std::filesystem::path& root, const std::string& server,
               const std::string& port, bool online) {
  Instance(root, server, port).SetOnline(online);
}

bool IsOnline(const std::filesystem::path& root, const std::string& server,
              const std::string& port) {
  try {
    Instance instance(root, server, port);
    return instance.Online();
  } catch (const DbError&) {
    return false;
  }
}

}  // namespace pv::db::embedded
