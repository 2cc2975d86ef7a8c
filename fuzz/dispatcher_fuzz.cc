// Feeds arbitrary messages to the reply dispatcher. A message that is not a
// reply with a known word must reach no handler and send nothing; a "DBIN"
// argument goes through the field reader. Without a local database the
// identification words send nothing either.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <stdexcept>
#include <string>

#include "db/connections/central_connection.h"
#include "link/dispatcher.h"

namespace {

struct Target : pv::link::ReplyTarget {
  void SendMessage(const std::string&) override { ++sent; }
  Identity LoadIdentity() override {
    ++handled;
    throw std::runtime_error("no local database");
  }
  void StoreIdentity(const std::string&) override {
    ++handled;
    throw std::runtime_error("no local database");
  }
  void InstallationConfirmed(const std::string&) override { ++handled; }
  void CentralConnectionData(const std::string& argument) override {
    ++handled;
    pv::db::CentralConnectionSettings settings;
    pv::db::ReadCentralConnectionData(argument, settings);
  }
  void FullUploadRequested() override { ++handled; }
  void CentralChange(const std::string&) override { ++handled; }

  int sent = 0;
  int handled = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::set<std::string> kKnown = {"CONN", "RPID", "INID", "VDID",
                                               "DBIN", "DATR", "UPDA"};
  const std::string message(reinterpret_cast<const char*>(data), size);
  Target target;
  pv::link::DispatchReply(message, target);

  const auto reply = pv::link::ParseReply(message);
  const bool known = reply && kKnown.count(reply->word) > 0;
  if (target.sent != 0) std::abort();  // no local database: nothing may be sent
  if (!known && target.handled != 0) std::abort();
  if (target.handled > 1) std::abort();
  if (reply && reply->argument.size() > message.size()) std::abort();
  return 0;
}
