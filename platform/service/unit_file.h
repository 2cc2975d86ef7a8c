// The systemd unit that runs the service: its names, its text and where it is
// written.
#pragma once

#include <filesystem>
#include <string>

namespace pv::platform {

inline constexpr const char* kServiceName = "PVRemote";
inline constexpr const char* kDisplayName = "Portavento Remote";
inline constexpr const char* kUnitName = "PVRemote.service";
// The unit's StateDirectory: systemd makes it /var/lib/pvremote and hands it
// to the service as STATE_DIRECTORY.
inline constexpr const char* kStateDirectory = "pvremote";
inline constexpr const char* kStateFolder = "/var/lib/pvremote";

// The unit: started by systemd at boot, readiness through sd_notify
// (Type=notify), restarted on failure, with /var/lib/pvremote as its state
// directory (STATE_DIRECTORY), which the service takes as its local
// application-data folder.
std::string UnitText(const std::filesystem::path& executable);

// "<PVREMOTE_ROOT>/etc/systemd/system" when PVREMOTE_ROOT is set, else
// "/etc/systemd/system".
std::filesystem::path UnitDirectory();
std::filesystem::path UnitPath();

// Writes the unit atomically (temporary file, then rename); false on failure.
bool WriteUnitFile(const std::filesystem::path& executable);

// Removes the unit file; true when it is gone afterwards.
bool RemoveUnitFile();

// The running program's own executable (/proc/self/exe).
std::filesystem::path OwnExecutable();

}  // namespace pv::platform
