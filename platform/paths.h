// Where the program keeps its settings files and application data, and how it
// recognises a debug run. Every location can be moved under one root folder
// with PVREMOTE_ROOT, so tests and demos never touch the real ones.
#pragma once

#include <string>

namespace pv::platform {

class Paths {
 public:
  // Locations taken from the environment (PVREMOTE_ROOT, XDG_CONFIG_HOME,
  // STATE_DIRECTORY, XDG_DATA_HOME, HOME) at the time of the call.
  static Paths FromEnvironment();
  // Every location under `root`, as PVREMOTE_ROOT=<root> would give.
  static Paths UnderRoot(const std::string& root);

  // Settings files of the three roots.
  const std::string& MachineStore() const { return machineStore_; }
  const std::string& DefaultUserStore() const { return defaultUserStore_; }
  const std::string& CurrentUserStore() const { return currentUserStore_; }
  // The account's local application-data folder, ending in '/'; empty when
  // the environment names none.
  const std::string& LocalAppDataFolder() const { return localAppData_; }
  // The relocation root (PVREMOTE_ROOT), empty when the real locations apply.
  const std::string& root() const { return root_; }

 private:
  Paths() = default;
  std::string root_;
  std::string machineStore_;
  std::string defaultUserStore_;
  std::string currentUserStore_;
  std::string localAppData_;
};

// Folder of the running executable, ending in '/'; empty when unknown.
std::string ProgramFolder();

// True for a development run: PVREMOTE_DEBUG=1 and not started by systemd
// (INVOCATION_ID or NOTIFY_SOCKET set).
bool IsDebugRun();

}  // namespace pv::platform
