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
// The folder of the machine settings file, which the service rewrites.
inline constexpr const char* kSettingsFolder = "/etc/pvremote";
// The system user the packaged service runs as.
inline constexpr const char* kServiceUser = "pvremote";

// The unit: started by systemd at boot, readiness through sd_notify
// (Type=notify), restarted on failure, with /var/lib/pvremote as its state
// directory (STATE_DIRECTORY), which the service takes as its local
// application-data folder, and confined to writing that folder and the
// settings folder. It runs as `user` when one is given, else as root.
std::string UnitText(const std::filesystem::path& executable, const std::string& user = {});

// kServiceUser when the system has that user, else empty.
std::string ServiceUserIfPresent();

// "<PVREMOTE_ROOT>/etc/systemd/system" when PVREMOTE_ROOT is set, else
// "/etc/systemd/system".
std::filesystem::path UnitDirectory();
std::filesystem::path UnitPath();

// Writes the unit atomically (temporary file, then rename), run as
// kServiceUser when that user exists; false on failure.
bool WriteUnitFile(const std::filesystem::path& executable);

// Removes the unit file; true when it is gone afterwards.
bool RemoveUnitFile();

// The running program's own executable (/proc/self/exe).
std::filesystem::path OwnExecutable();

}  // namespace pv::platform
