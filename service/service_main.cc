#include "service/service_main.h"

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "common/error.h"
#include "common/version.h"
#include "db/error.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/service/control_signals.h"
#include "platform/service/event_log.h"
#include "platform/service/notify.h"
#include "platform/service/service_control.h"
#ifndef _WIN32
#include "platform/service/unit_file.h"
#endif
#include "platform/utf8_paths.h"
#ifdef _WIN32
#include "platform/service/service_dispatcher.h"
#endif
#include "service/command_line.h"
#include "service/service_host.h"
#include "service/site_check.h"
#include "service/status.h"
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

namespace {

#ifdef _WIN32
using ManagerSession = platform::ServiceSession;
#else
// Under systemd the manager is reached through NOTIFY_SOCKET alone.
struct ManagerSession {};
#endif

void ReportReady([[maybe_unused]] ManagerSession* session) {
#ifdef _WIN32
  session->ReportRunning();
#else
  platform::NotifyServiceManager("READY=1");
#endif
}

void ReportStopping([[maybe_unused]] ManagerSession* session) {
#ifdef _WIN32
  session->ReportStopPending();
#else
  platform::NotifyServiceManager("STOPPING=1");
#endif
}

// The running service: `session` is the service manager's side, nullptr in
// a debug run.
int RunHost(bool debugRun, ManagerSession* session) {
  const platform::Paths paths = platform::Paths::FromEnvironment();
  // One service per application-data folder: a second one leaves the first
  // one's files alone and ends at once.
  std::unique_ptr<platform::InstanceLock> lock;
  if (!paths.LocalAppDataFolder().empty()) {
    std::error_code ec;
    std::filesystem::create_directories(platform::PathFromUtf8(paths.LocalAppDataFolder()), ec);
    lock = std::make_unique<platform::InstanceLock>(paths.LocalAppDataFolder() + kLockFileName);
    if (!lock->held()) {
      if (lock->error().empty()) {
        std::cerr << "pvremote: another pvremote"
                  << (lock->holderPid() > 0 ? " (pid " + std::to_string(lock->holderPid()) + ")"
                                            : std::string())
                  << " is running on " << paths.LocalAppDataFolder()
                  << "; this one exits (pvremote --status shows the running one)\n";
      } else {
        std::cerr << "pvremote: " << lock->error() << "\n";
      }
      return 1;
    }
  }
  asio::io_context io;
  ServiceHost host(io, paths, IntervalsForRun(debugRun));
  bool stopped = false;
  auto stop = [&] {
    if (stopped) return;
    stopped = true;
    if (session != nullptr) ReportStopping(session);
    ReportingFailures([&] { host.ShutdownRemote(); });
    io.stop();
  };

  // The end of the terminal session does not stop the service's work.
  platform::ControlSignals signals(
      io,
      [&](platform::ControlRequest request) {
        if (request != platform::ControlRequest::SessionEnd) stop();
      },
      [&host](platform::ControlRequest request) {
        // A job running on the loop sees this at its next statement.
        if (request != platform::ControlRequest::SessionEnd) host.RequestStop();
      });
#ifdef _WIN32
  // The manager's stop and shutdown arrive on its own thread: the shutdown
  // routine runs on the loop, as for the signals.
  if (session != nullptr) {
    session->SetControlHandler([&io, &stop, &host](platform::ControlRequest) {
      host.RequestStop();
      asio::post(io, [&stop] { stop(); });
    });
  }
#endif

  if (debugRun) {
    host.StartRemote();
  } else {
    ReportingFailures([&] {
      host.ServiceStarted();
      ReportReady(session);
    });
  }
  io.run();
#ifdef _WIN32
  if (session != nullptr) session->SetControlHandler(nullptr);
#endif
  return 0;
}

}  // namespace

#ifdef _WIN32

int RunService() {
  // Started by the service control manager exactly when the dispatcher
  // connects; the service then runs on the dispatcher's thread.
  unsigned long error = 0;
  const platform::DispatchResult result = platform::RunServiceDispatcher(
      [](platform::ServiceSession& session) { return RunHost(false, &session); }, error);
  if (result == platform::DispatchResult::Ran) return 0;
  if (result == platform::DispatchResult::Failed) {
    const std::string text = "StartServiceCtrlDispatcher: " + platform::SystemErrorText(error);
    platform::WriteEventLogError(static_cast<long>(error), text);
    std::cerr << "pvremote: " << text << " [" << error << "]\n";
    return 1;
  }
  if (!platform::IsDebugRun()) {
    std::cerr << "pvremote: not started by the service control manager; set PVREMOTE_DEBUG=1 to "
                 "run in the foreground\n";
    return 1;
  }
  return RunHost(true, nullptr);
}

#else

int RunService() {
  const bool underSystemd = platform::StartedByServiceManager();
  const bool debugRun = !underSystemd && platform::IsDebugRun();
  if (!underSystemd && !debugRun) {
    std::cerr
        << "pvremote: not started by systemd; set PVREMOTE_DEBUG=1 to run in the foreground\n";
    return 1;
  }
  ManagerSession systemd;
  return RunHost(debugRun, debugRun ? nullptr : &systemd);
}

#endif

int ServiceMain(int argc, const char* const* argv) {
  std::string line;
  try {
    line = CommandLineText(argc, argv);
  } catch (...) {
    // Without a readable command line the service runs as if it were empty.
  }
#ifdef _WIN32
  const char* unit = "the service PVRemote";
#else
  const char* unit = "PVRemote.service";
#endif
  switch (ParseCommandLine(line)) {
    case Switch::StopService:
      platform::StopService();
      std::cout << "pvremote: asked to stop " << unit << " (not waiting)\n";
      return 0;
    case Switch::Status:
    case Switch::StatusJson:
      return ShowStatus(platform::Paths::FromEnvironment(),
                        ParseCommandLine(line) == Switch::StatusJson, std::cout, std::cerr);
    case Switch::Check: {
#ifndef _WIN32
      // Beside the installed service the check looks at what the service
      // uses: its state directory, when there is one.
      const char* root = std::getenv("PVREMOTE_ROOT");
      std::error_code ec;
      if ((root == nullptr || *root == '\0') &&
          std::filesystem::is_directory(platform::kStateFolder, ec)) {
        setenv("STATE_DIRECTORY", platform::kStateFolder, 0);
      }
#endif
      return RunCheck(platform::Paths::FromEnvironment(), std::cout);
    }
    case Switch::Version:
      std::cout << common::VersionLine("pvremote") << "\n";
      return 0;
    case Switch::Help:
      std::cout << HelpText();
      return 0;
    case Switch::Install: {
      settings::RegistryStore(platform::Paths::FromEnvironment()).MigratePassword();
      if (!SetAutoStartup(false)) {
#ifdef _WIN32
        std::cerr << "pvremote: the service could not be registered with the service control "
                     "manager\n";
#else
        std::cerr << "pvremote: the service could not be registered with systemd\n";
#endif
        return 1;
      }
      // Installing over a running service is the upgrade path: it restarts
      // on the program just installed.
      if (platform::ServiceRunning()) {
        platform::RestartService();
        std::cout << "pvremote: installed " << unit
                  << " (automatic start); it was running and is being restarted\n";
      } else {
        platform::StartService();
        std::cout << "pvremote: installed " << unit << " (automatic start) and asked to start it\n";
      }
      return 0;
    }
    case Switch::Uninstall:
      platform::UninstallService();
      std::cout << "pvremote: stopped and removed " << unit << "\n";
      return 0;
    case Switch::StartService:
      platform::StartService();
      std::cout << "pvremote: asked to start " << unit << " (not waiting)\n";
      return 0;
    case Switch::Run:
      return RunService();
    case Switch::Unknown:
      break;
  }
  std::cerr << "pvremote: unknown command line \"" << line
            << "\" (use /i, /u, /ss, /c, --status, --check, --version, --help, or nothing to run "
               "the service)\n";
  return 2;
}

}  // namespace pv::service
