#include "service/command_line.h"

#include "common/text.h"

namespace pv::service {

std::string CommandLineText(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i] != nullptr ? argv[i] : "";
  }
  if (argc > 1 && line.empty()) line = "\"\"";
  return line;
}

Switch ParseCommandLine(const std::string& line) {
  if (common::AsciiLower(common::TrimSpaces(line)) == "/c") return Switch::StopService;
  if (line == "/i") return Switch::Install;
  if (line == "/u") return Switch::Uninstall;
  if (line == "/ss") return Switch::StartService;
  if (line.empty()) return Switch::Run;
  if (line == "--status") return Switch::Status;
  if (line == "--status --json" || line == "--json --status") return Switch::StatusJson;
  if (line == "--check") return Switch::Check;
  if (line == "--version") return Switch::Version;
  if (line == "--help" || line == "-h" || line == "/?") return Switch::Help;
  return Switch::Unknown;
}

std::string HelpText() {
  return R"(Usage: pvremote [/i | /u | /ss | /c | --status [--json] | --check | --version | --help]

Keeps a site's local SQL database in step with the central server over one
TCP link. Run without arguments by the service manager, or in the foreground
with PVREMOTE_DEBUG=1 (events on standard error).

  /i               install the service (automatic start) and start it; restarts
                   a service that is already running
  /u               stop and remove the service
  /ss              start the service
  /c               stop the service
  --status         the running service's state; exit 0 healthy, 1 degraded,
                   3 not running, 4 not visible to this user
  --status --json  the same as one JSON object
  --check          check the settings, the local database and the central
                   server's address without starting; exit 0 when all pass
  --version        the version and the commit it was built from
  --help, -h, /?   this text

Settings: the machine settings file (/etc/pvremote/machine.reg; see the README).
Environment: PVREMOTE_DEBUG=1, PVREMOTE_ROOT=<dir>, PVREMOTE_TEST_INTERVALS.
)";
}

}  // namespace pv::service
