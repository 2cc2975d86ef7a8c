// Registering, removing, starting and stopping the service: through systemctl
// on Linux, through the service control manager and "net" on Windows
// (service_control_win.cc).
//
// The systemctl program is "systemctl", or the command named by
// PVREMOTE_SYSTEMCTL (so tests and demos can record the calls). With
// PVREMOTE_ROOT set, every call carries "--root=<PVREMOTE_ROOT>": enabling and
// disabling then work on the unit files below that root without a running
// systemd, while start and stop, which need the manager, simply fail.
#pragma once

#include <string>
#include <vector>

// <windows.h> names StartServiceA/W "StartService"; the routine below is ours.
#ifdef StartService
#undef StartService
#endif

namespace pv::platform {

#ifndef _WIN32
// Program and leading arguments of every systemctl call.
std::vector<std::string> SystemctlCommand();

// Runs systemctl with the given arguments appended and waits for it; the
// exit status, or -1 when it could not be started.
int RunSystemctl(const std::vector<std::string>& args);
#endif

// Writes the unit, reloads the manager and enables the unit for automatic
// start at boot; true when enabling reported success. Windows: registers
// the service "PVRemote" ("Portavento Remote", own process, automatic start,
// this executable), or updates an existing registration; failures go to the
// event log and stderr.
bool InstallService();

// Stops and disables the service (without waiting for the stop), removes the
// unit file and reloads the manager. Windows: asks the running service to
// stop (not waiting) and deletes it; failures go to the event log and stderr.
void UninstallService();

// "systemctl start" / "systemctl stop" of the service, not waiting for the
// job to finish. Windows: "net start PVRemote" / "net stop PVRemote" in a
// minimised window, not waited for.
void StartService();
void StopService();

// True when the service runs now (systemctl is-active; Windows: the service
// control manager reports it running or starting).
bool ServiceRunning();
// Stops and starts the service again, not waiting for it (systemctl restart
// --no-block; Windows: "net stop" then "net start" in a minimised window).
void RestartService();

}  // namespace pv::platform
