#include "service/service_main.h"

#include <asio/io_context.hpp>
#include <exception>
#include <iostream>
#include <string>

#include "common/error.h"
#include "db/error.h"
#include "platform/paths.h"
#include "platform/service/control_signals.h"
#include "platform/service/event_log.h"
#include "platform/service/notify.h"
#include "platform/service/service_control.h"
#include "service/command_line.h"
#include "service/service_host.h"
#include "service/subsystems.h"
#include "service/test_intervals.h"
#include "settings/registry_store.h"

namespace pv::service {

namespace {

// Failures of the start and stop notifications go to the system log.
template <typename Fn>
void ReportingFailures(Fn&& fn) {
  try {
    fn();
  } catch (const db::DbError& e) {
    platform::WriteEventLogError(e.number(), e.description());
  } catch (const common::Error& e) {
    platform::WriteEventLogError(e.number(), e.description());
  } catch (const std::exception& e) {
    platform::WriteEventLogError(0, e.what());
  } catch (...) {
    platform::WriteEventLogError(0, "unknown failure");
  }
}

}  // namespace

bool SetAutoStartup(bool runningAsService) {
  if (runningAsService) return false;
  try {
    return platform::InstallService();
  } catch (...) {
    return false;
  }
}

int RunService() {
  const bool underSystemd = platform::StartedByServiceManager();
  const bool debugRun = !underSystemd && platform::IsDebugRun();
  if (!underSystemd && !debugRun) {
    std::cerr
        << "pvremote: not started by systemd; set PVREMOTE_DEBUG=1 to run in the foreground\n";
    return 1;
  }

  asio::io_context io;
  ServiceHost host(io, platform::Paths::FromEnvironment(), IntervalsForRun(debugRun));
  AttachSubsystems(host);
  bool stopped = false;
  auto stop = [&] {
    if (stopped) return;
    stopped = true;
    if (underSystemd) platform::NotifyServiceManager("STOPPING=1");
    ReportingFailures([&] { host.ShutdownRemote(); });
    io.stop();
  };

  platform::ControlSignals signals(io, [&](platform::ControlRequest request) {
    // The end of the terminal session does not stop the service's work.
    if (request == platform::ControlRequest::SessionEnd) return;
    stop();
  });

  if (debugRun) {
    host.StartRemote();
  } else {
    ReportingFailures([&] {
      host.ServiceStarted();
      platform::NotifyServiceManager("READY=1");
    });
  }
  io.run();
  return 0;
}

int ServiceMain(int argc, const char* const* argv) {
  std::string line;
  try {
    line = CommandLineText(argc, argv);
  } catch (...) {
    // Without a readable command line the service runs as if it were empty.
  }
  switch (ParseCommandLine(line)) {
    case Switch::StopService:
      platform::StopService();
      return 0;
    case Switch::Install: {
      settings::RegistryStore(platform::Paths::FromEnvironment()).MigratePassword();
      if (!SetAutoStartup(false)) {
        std::cerr << "pvremote: the service could not be registered with systemd\n";
        return 1;
      }
      platform::StartService();
      return 0;
    }
    case Switch::Uninstall:
      platform::UninstallService();
      return 0;
    case Switch::StartService:
      platform::StartService();
      return 0;
    case Switch::Run:
      return RunService();
    case Switch::Unknown:
      break;
  }
  std::cerr << "pvremote: unknown command line \"" << line
            << "\" (use /i, /u, /ss, /c, or nothing to run the service)\n";
  return 2;
}

}  // namespace pv::service
