#include "tools/pvcentral/options.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

#include "platform/paths.h"
#include "platform/utf8_paths.h"
#include "schema/sql_scripts.h"

namespace pv::central {
namespace {

bool ParseNumber(std::string_view text, long long min, long long max, long long& out) {
  const auto* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && p == end && out >= min && out <= max;
}

bool IsPlainName(const std::string& name) {
  if (name.empty() || name.size() > 128) return false;
  for (char c : name) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine cl;
  Options& o = cl.options;
  auto fail = [&cl](std::string message) {
    cl.mode = CommandLine::Mode::Error;
    cl.error = std::move(message);
    return cl;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    long long n = 0;
    if (arg == "-h" || arg == "--help") {
      cl.mode = CommandLine::Mode::Help;
      return cl;
    } else if (arg == "--version") {
      cl.mode = CommandLine::Mode::Version;
      return cl;
    } else if (arg == "--control") {
      if (!value(v)) return fail("--control needs the state folder of the running simulator");
      cl.controlDir = platform::PathFromUtf8(v);
      cl.mode = CommandLine::Mode::Control;
      int j = i + 1;
      if (j + 1 < argc && std::string_view(argv[j]) == "--timeout") {
        if (!ParseNumber(argv[j + 1], 0, 86400, n)) return fail("--timeout needs seconds");
        cl.controlTimeout = static_cast<double>(n);
        j += 2;
      }
      for (; j < argc; ++j) {
        if (!cl.command.empty()) cl.command += ' ';
        cl.command += argv[j];
      }
      if (cl.command.empty()) return fail("--control needs a command (try: help)");
      return cl;
    } else if (arg == "--port") {
      if (!value(v) || !ParseNumber(v, 0, 65535, n)) return fail("--port needs a number 0-65535");
      o.port = static_cast<int>(n);
    } else if (arg == "--bind") {
      if (!value(o.bind)) return fail("--bind needs an address");
    } else if (arg == "--state") {
      if (!value(v)) return fail("--state needs a folder");
      o.stateDir = platform::PathFromUtf8(v);
    } else if (arg == "--data-root") {
      if (!value(v)) return fail("--data-root needs a folder");
      o.central.dataRoot = platform::PathFromUtf8(v);
    } else if (arg == "--home-script") {
      if (!value(v)) return fail("--home-script needs a file");
      o.central.homeScript = platform::PathFromUtf8(v);
    } else if (arg == "--central-server") {
      if (!value(o.central.server) || o.central.server.empty())
        return fail("--central-server needs a name");
    } else if (arg == "--central-port") {
      if (!value(v) || !ParseNumber(v, 1, 65535, n))
        return fail("--central-port needs a number 1-65535");
      o.central.port = v;
    } else if (arg == "--central-user") {
      if (!value(o.central.user) || o.central.user.empty())
        return fail("--central-user needs a login name");
    } else if (arg == "--central-password") {
      if (!value(o.central.password)) return fail("--central-password needs a value");
    } else if (arg == "--home-database") {
      if (!value(o.central.homeDatabase) || !IsPlainName(o.central.homeDatabase))
        return fail("--home-database needs a name of letters, digits and '_'");
    } else if (arg == "--dbin-extra") {
      if (!value(o.central.extra)) return fail("--dbin-extra needs a value");
    } else if (arg == "--no-auto-vdid") {
      o.autoVdid = false;
    } else if (arg == "--no-auto-dbin") {
      o.autoDbin = false;
    } else if (arg == "--new-keys") {
      o.newKeys = true;
    } else if (arg == "--no-stdin") {
      o.readStdin = false;
    } else if (arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "--max-pending") {
      if (!value(v) || !ParseNumber(v, 64, 1LL << 30, n))
        return fail("--max-pending needs a byte count 64-1073741824");
      o.maxPending = static_cast<std::size_t>(n);
    } else {
      return fail("unknown option: " + std::string(arg) + " (try --help)");
    }
  }
  return cl;
}

void ApplyDefaults(Options& o) {
  // The service's own local application-data folder, so that both find the
  // same embedded SQL instances.
  std::filesystem::path appData =
      platform::PathFromUtf8(platform::Paths::FromEnvironment().LocalAppDataFolder());
  if (appData.empty()) appData = std::filesystem::current_path();
  if (o.stateDir.empty()) o.stateDir = appData / "pvcentral";
  if (o.central.dataRoot.empty()) o.central.dataRoot = appData / "sql";
  if (o.central.homeScript.empty())
    o.central.homeScript = schema::SqlScriptPath(schema::kHomeScript);
}

std::string HelpText() {
  return R"(pvcentral - central-server simulator for PVRemote

Usage:
  pvcentral [options]                       run the simulator
  pvcentral --control STATE-DIR [--timeout SECONDS] COMMAND [ARGS...]
                                            hand one command to a running simulator

The simulator listens on a TCP port, greets every connection with "+OK CONN",
answers "NWID <key>" with "+OK INID <key>" and records the key in the
Installations table of the home database, answers "NWID"/"PVID" with
"+OK VDID <installation id>" and then sends "+OK DBIN" with the central
instance's data. Every message is framed with ":tPVStr" and travels in
Windows-1252. Everything received and sent is logged with a time stamp on
stdout and in STATE-DIR/pvcentral.log.

Options:
  --port N               listening port (default 8080; 0 picks a free port,
                         which is printed and written to STATE-DIR/pvcentral.port)
  --bind ADDRESS         listening address (default 127.0.0.1)
  --state DIR            state folder: pvcentral.log, pvcentral.port, control.port
                         (default: <local application-data folder>/pvcentral)
  --data-root DIR        data root of the embedded SQL engine
                         (default: <local application-data folder>/sql)
  --home-script FILE     T-SQL script that creates the home database's tables
                         (default: the project's sql/central_home.sql)
  --central-server NAME  central SQL instance: server name (default localhost)
  --central-port N       central SQL instance: port (default 1434)
  --central-user NAME    central login (default sa)
  --central-password PW  central password (default central)
  --home-database NAME   home database (default PVHome)
  --dbin-extra TEXT      sixth "DBIN" field (default empty)
  --no-auto-vdid         do not send "VDID" after identification (use: vdid)
  --no-auto-dbin         do not send "DBIN" after "VDID" (use: dbin)
  --new-keys             "INID" assigns a fresh 50-letter key instead of the
                         key received with "NWID"
  --no-stdin             do not read commands from standard input
  --quiet                log to the log file only, not to stdout
  --max-pending BYTES    bound for received text without delimiter (default 1 MiB)
  -h, --help             this text
  --version              the version and the commit it was built from

The local application-data folder is <PVREMOTE_ROOT>/var/lib/pvremote when
PVREMOTE_ROOT is set, else $STATE_DIRECTORY, $XDG_DATA_HOME/pvremote or
~/.local/share/pvremote.

Commands (one per line on standard input, or after --control STATE-DIR).
They act on every connection; "@N COMMAND" acts on connection N only.
  send WORD [ARG]        send "+OK WORD ARG" (e.g. send DATR)
  datr | rpid | conn | bdid | pvte
                         send "+OK DATR", "+OK RPID", ... (no argument)
  vdid [ID]              send "+OK VDID" with the connection's installation id, or ID
  dbin [FIELDS]          send "+OK DBIN" with the central instance's data, or FIELDS
                         as they stand (fields separated by the section sign)
  upda [FIELDS]          one "+OK UPDA id§recordId§kind§itemId" per row of the
                         home database's UpdateQueue (rows of the connection's
                         installation), or one "+OK UPDA FIELDS"
  raw TEXT               send TEXT followed by the delimiter; \n \r \t \\ and
                         \xHH stand for those bytes
  rawpart TEXT           send TEXT without the delimiter (same escapes)
  drop                   close every connection
  list                   the connections with their keys and installation ids
  received [N]           received messages from number N on (default: all kept)
  mark                   start the window of "wait" now
  wait TEXT [SECONDS]    wait (default 30 s) until a message starting with TEXT
                         arrives after the last order sent (or the last "mark"),
                         and print it; fails on time-out
  quit                   stop the simulator
  help                   list the commands
With --control the reply is printed and the exit status is 0 when the command
succeeded, 1 when it failed, 2 when no simulator answered.
)";
}

}  // namespace pv::central
