// A private PVREMOTE_ROOT for one test: every file the programs write (the
// settings, the embedded SQL instances, the logs, the simulator's state)
// lives under it, and it is removed at the end.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace pv::e2e {

class TempRoot {
 public:
  TempRoot();   // a new folder under $TMPDIR (or /tmp)
  ~TempRoot();  // removes it, unless PV_E2E_KEEP=1 is set (for looking at a failure)
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // <root>/var/lib/pvremote: the local application-data folder.
  std::filesystem::path AppData() const { return path_ / "var/lib/pvremote"; }
  // The embedded engine's data root: AppData()/sql.
  std::filesystem::path DataRoot() const { return AppData() / "sql"; }
  // The service's application folder (its daily logs and photos).
  std::filesystem::path ServiceFolder() const { return AppData() / "Portavento"; }
  // The machine-wide settings file.
  std::filesystem::path MachineStore() const { return path_ / "etc/pvremote/machine.reg"; }

 private:
  std::filesystem::path path_;
};

// Writes the machine-wide settings file with `values` under the service's
// key, in the registry-export text form the service reads.
void WriteSettings(const std::filesystem::path& file,
                   const std::map<std::string, std::string>& values);

}  // namespace pv::e2e
