// Registering, removing, starting and stopping the service through systemctl.
//
// The systemctl program is "systemctl", or the command named by
// PVREMOTE_SYSTEMCTL (so tests and demos can record the calls). With
// PVREMOTE_ROOT set, every call carries "--root=<PVREMOTE_ROOT>": enabling and
// disabling then work on the unit files below that root without a running
// systemd, while start and stop, which need the manager, simply fail.
#pragma once

#include <string>
#include <vector>

namespace pv::platform {

// Program and leading arguments of every systemctl call.
std::vector<std::string> SystemctlCommand();

// Runs systemctl with the given arguments appended and waits for it; the
// exit status, or -1 when it could not be started.
int RunSystemctl(const std::vector<std::string>& args);

// Writes the unit, reloads the manager and enables the unit for automatic
// start at boot; true when enabling reported success.
bool InstallService();

// Stops and disables the service (without waiting for the stop), removes the
// unit file and reloads the manager.
void UninstallService();

// "systemctl start" / "systemctl stop" of the service, not waiting for the
// job to finish.
void StartService();
void StopService();

}  // namespace pv::platform
