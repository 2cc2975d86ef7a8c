#include "db/embedded/embedded_engine.h"

namespace pv::db::embedded {

namespace {
[[noreturn]] void NotYet() {
  throw DbError(kErrServerUnreachable, "embedded engine not built yet");
}
}  // namespace

std::unique_ptr<Connection> MakeEmbeddedConnection(const std::filesystem::path&) { NotYet(); }
std::filesystem::path InstanceFolder(const std::filesystem::path&, const std::string&,
                                     const std::string&) {
  NotYet();
}
void CreateInstance(const std::filesystem::path&, const std::string&, const std::string&) {
  NotYet();
}
bool InstanceExists(const std::filesystem::path&, const std::string&, const std::string&) {
  return false;
}
void SetLogin(const std::filesystem::path&, const std::string&, const std::string&,
              const std::string&, const std::string&) {
  NotYet();
}
void SetOnline(const std::filesystem::path&, const std::string&, const std::string&, bool) {
  NotYet();
}
bool IsOnline(const std::filesystem::path&, const std::string&, const std::string&) {
  return false;
}

}  // namespace pv::db::embedded
