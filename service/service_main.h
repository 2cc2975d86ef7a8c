// The program's entry: one-shot jobs of the command line, or the service run.
#pragma once

namespace pv::service {

// Registers the service for automatic start; false when this process is the
// running service itself or the registration failed.
bool SetAutoStartup(bool runningAsService);

// Runs the service: under systemd (readiness, start after the start delay,
// SIGTERM stops) or, in a debug run, at once in the foreground (Ctrl+C stops,
// SIGHUP is ignored). On Windows: under the service control manager (running
// after the start delay's timer is set, stop and shutdown run the shutdown
// routine) when the dispatcher connects, else a debug run (Ctrl+C, Ctrl+Break
// and closing the console stop; log-off is ignored). Started neither way it
// returns at once. Returns the process exit status.
int RunService();

// The whole program; returns the process exit status.
int ServiceMain(int argc, const char* const* argv);

}  // namespace pv::service
