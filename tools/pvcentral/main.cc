// pvcentral: the central-server simulator (see pvcentral --help).
#include <asio.hpp>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <optional>

#include "common/version.h"
#include "db/error.h"
#include "platform/process_text.h"
#include "platform/utf8_paths.h"
#include "tools/pvcentral/activity_log.h"
#include "tools/pvcentral/console.h"
#include "tools/pvcentral/control.h"
#include "tools/pvcentral/home_db.h"
#include "tools/pvcentral/link_server.h"
#include "tools/pvcentral/options.h"
#include "tools/pvcentral/stdin_reader.h"

namespace fs = std::filesystem;
using namespace pv::central;

namespace {

void PrintReply(bool ok, const std::string& text) {
  if (ok) {
    if (!text.empty()) std::cout << text << '\n';
  } else {
    std::cout << "error: " << text << '\n';
  }
  std::cout.flush();
}

int Run(Options options) {
  ApplyDefaults(options);
  std::error_code ec;
  fs::create_directories(options.stateDir, ec);
  if (!fs::is_directory(options.stateDir)) {
    std::cerr << "pvcentral: cannot create the state folder " << options.stateDir << "\n";
    return 1;
  }
  // Stale files of an earlier run would send controllers to a dead port.
  fs::remove(options.stateDir / kPortFileName, ec);
  fs::remove(options.stateDir / kControlPortFileName, ec);

  ActivityLog log(options.stateDir / kLogFileName, !options.quiet);
  HomeDb home(options.central);
  try {
    home.Prepare();
  } catch (const pv::db::DbError& e) {
    std::cerr << "pvcentral: cannot prepare the home database " << options.central.homeDatabase
              << " on " << options.central.server << "," << options.central.port << ": "
              << e.number() << " - " << e.description() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "pvcentral: cannot prepare the home database: " << e.what() << "\n";
    return 1;
  }

  asio::io_context io;
  LinkServer server(io, options, log, home);
  Console console(io, server, log, home);
  ControlServer control(io, console);
  try {
    server.Listen();
    control.Listen();
  } catch (const std::system_error& e) {
    std::cerr << "pvcentral: cannot listen on " << options.bind << ":" << options.port << ": "
              << e.what() << "\n";
    return 1;
  }
  if (!WritePortFile(options.stateDir / kPortFileName, server.port()) ||
      !WritePortFile(options.stateDir / kControlPortFileName, control.port())) {
    std::cerr << "pvcentral: cannot write the port files in " << options.stateDir << "\n";
    return 1;
  }
  log.Event(0, "listening on " + options.bind + ":" + std::to_string(server.port()) +
                   " (control port " + std::to_string(control.port()) + ", state folder " +
                   pv::platform::Utf8FromPath(options.stateDir) + ", home database " +
                   options.central.homeDatabase + " on " + options.central.server + "," +
                   options.central.port + ")");

  std::optional<StdinReader> input;
  asio::signal_set signals(io, SIGINT, SIGTERM);
  bool stopping = false;
  auto stop = [&] {
    if (stopping) return;
    stopping = true;
    log.Event(0, "stopping");
    console.Shutdown();
    control.Shutdown();
    std::error_code ignored;
    signals.cancel(ignored);
    if (input) input->Stop();
  };
  console.SetQuitHandler(stop);
  signals.async_wait([&](std::error_code e, int) {
    if (!e) stop();
  });
  if (options.readStdin) {
    input.emplace(
        [&](std::string line) {
          asio::post(io, [&console, line] { console.Execute(line, PrintReply); });
        },
        nullptr);
    input->Start();
  }
  io.run();
  if (input) input->Stop();
  fs::remove(options.stateDir / kPortFileName, ec);
  fs::remove(options.stateDir / kControlPortFileName, ec);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGPIPE
  // A peer that went away shows as an error of the write, not a signal.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  pv::platform::UseUtf8Console();
  pv::platform::Utf8Argv args(argc, argv);
  const CommandLine cl = ParseCommandLine(args.argc(), args.argv());
  switch (cl.mode) {
    case CommandLine::Mode::Help:
      std::cout << HelpText();
      return 0;
    case CommandLine::Mode::Version:
      std::cout << pv::common::VersionLine("pvcentral") << "\n";
      return 0;
    case CommandLine::Mode::Error:
      std::cerr << "pvcentral: " << cl.error << "\n";
      return 2;
    case CommandLine::Mode::Control:
      return RunControlClient(cl.controlDir, cl.command, cl.controlTimeout);
    case CommandLine::Mode::Run:
      break;
  }
  return Run(cl.options);
}
