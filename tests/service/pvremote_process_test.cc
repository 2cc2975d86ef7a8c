// The real pvremote program: started as systemd starts it, as a debug run,
// as neither, and with each command-line switch; its watch over the local
// database seen from the real pvcentral.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <asio/local/datagram_protocol.hpp>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "db/embedded/embedded_engine.h"
#include "platform/paths.h"
#include "service/status.h"
#include "settings/password.h"
#include "settings/registry_store.h"
#include "tests/e2e/central_sim.h"
#include "tests/e2e/programs.h"
#include "tests/e2e/service_process.h"
#include "tests/support/temp_dir.h"

namespace pv::e2e {
namespace {

namespace fs = std::filesystem;
using pv::testing::ReadFile;

// Links pvcentral has accepted so far.
int Connections(const CentralSim& sim) {
  int n = 0;
  for (const CentralLogLine& l : sim.LogLines()) {
    n += l.kind == CentralLogLine::Kind::Event && l.text.rfind("connected ", 0) == 0 ? 1 : 0;
  }
  return n;
}

bool Disconnected(const CentralLogLine& l) { return l.text.rfind("disconnected: ", 0) == 0; }

// A site with its local database, pvcentral running, and no pvremote yet.
class Pvremote : public ::testing::Test {
 protected:
  static int CountLog(const ServiceProcess& service, const std::string& what) {
    const std::string text = service.LogText();
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  // pvremote with `args` as a debug run would be on this site: its exit
  // status and what it printed.
  std::pair<int, std::string> Run(const std::vector<std::string>& args) {
    const fs::path out = root.path() / "run.txt";
    fs::remove(out);
    Process p(PvremoteProgram(), args,
              {{"PVREMOTE_ROOT", root.path().string()},
               {"PVREMOTE_DEBUG", "1"},
               {"INVOCATION_ID", ""},
               {"NOTIFY_SOCKET", ""}},
              out);
    const int status = p.WaitExit(20s).value_or(-1);
    return {status, p.Output()};
  }

  TempRoot root;
  SqlInstance local;
  bool made = (CreateLocalSite(root.DataRoot(), local), true);
  CentralSim sim{root};
};

TEST_F(Pvremote, UnderSystemdReportsReadyStartsAfterTheDelayAndStopsOnSigterm) {
  // A datagram socket standing in for systemd's notification socket.
  const fs::path notifyPath = root.path() / "notify.sock";
  asio::io_context io;
  asio::local::datagram_protocol::socket notify(io, {notifyPath.string()});
  notify.non_blocking(true);
  std::vector<std::string> notices;
  auto poll = [&] {
    char buf[256];
    std::error_code ec;
    for (std::size_t n; n = notify.receive(asio::buffer(buf), 0, ec), !ec;) {
      notices.emplace_back(buf, n);
    }
    return notices;
  };

  ServiceProcess service(root, sim.port(),
                         {local,
                          {},
                          {{"PVREMOTE_DEBUG", ""},
                           {"INVOCATION_ID", "00112233445566778899aabbccddeeff"},
                           {"NOTIFY_SOCKET", notifyPath.string()}}});
  ASSERT_TRUE(WaitUntil([&] { return !poll().empty(); }, 10s)) << ConversationLogs(sim, service);
  EXPECT_EQ(notices.front(), "READY=1");
  const auto ready = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitUntil([&] { return Connections(sim) == 1; }, 10s))
      << ConversationLogs(sim, service);
  EXPECT_GE(std::chrono::steady_clock::now() - ready, 1500ms);  // the start delay
  EXPECT_EQ(CountLog(service, "Remote Started"), 1);
  // The application folder is recorded (with the system's separator) and
  // made with its photos folder.
  const auto paths = platform::Paths::UnderRoot(root.path().string());
  EXPECT_EQ(settings::RegistryStore(paths).GetRegValue("appFolder"),
            paths.LocalAppDataFolder() + "Portavento/");
  EXPECT_TRUE(fs::is_directory(root.ServiceFolder() / "photos"));

  // The end of a terminal session changes nothing.
  service.process().Signal(SIGHUP);
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(service.process().Running());

  service.process().Signal(SIGTERM);
  EXPECT_EQ(service.process().WaitExit(10s), 0) << ConversationLogs(sim, service);
  EXPECT_EQ(CountLog(service, "Remote Shutdown"), 1);
  EXPECT_EQ(poll().back(), "STOPPING=1");
  // The manager's status line tells the link's state.
  EXPECT_TRUE(std::ranges::any_of(notices, [](const std::string& n) {
    return n.starts_with("STATUS=link ");
  })) << notices.back();
  EXPECT_TRUE(sim.WaitLine(Disconnected, 10s)) << ConversationLogs(sim, service);
}

// A debug run starts at once (a start delay of its own would outlast the
// waits here). The local database is checked every tick: while it cannot be
// opened the link stays off and each tick logs why; the first good tick
// brings the link up, and losing the database takes the link down.
TEST_F(Pvremote, DebugRunKeepsTheLinkUpExactlyWhileTheLocalDatabaseOpens) {
  ServiceProcess service(
      root, sim.port(),
      {local, {{"sqlPWD", "not the password"}}, {{"PVREMOTE_TEST_INTERVALS", "60000,200,200,"}}});
  ASSERT_TRUE(WaitUntil([&] { return CountLog(service, "Open_cn - 18456 - ") >= 3; }, 10s))
      << ConversationLogs(sim, service);
  EXPECT_EQ(CountLog(service, "Remote Started"), 1);
  EXPECT_EQ(Connections(sim), 0);
  // The encoded password ("local") wins over the plain one.
  WriteSiteSettings(root, local, sim.port(),
                    {{"sqlPWD", "not the password"}, {"sqlPWDq", "108111099097108"}});
  ASSERT_TRUE(WaitUntil([&] { return Connections(sim) == 1; }, 10s))
      << ConversationLogs(sim, service);

  db::embedded::SetOnline(root.DataRoot(), local.server, local.port, false);
  ASSERT_TRUE(sim.WaitLine(Disconnected, 10s)) << ConversationLogs(sim, service);
  const int failures = CountLog(service, "Open_cn - 17 - ");
  ASSERT_TRUE(WaitUntil([&] { return CountLog(service, "Open_cn - 17 - ") >= failures + 2; }, 10s))
      << ConversationLogs(sim, service);
  EXPECT_EQ(Connections(sim), 1);  // the link's own ticks stopped with it
  db::embedded::SetOnline(root.DataRoot(), local.server, local.port, true);
  ASSERT_TRUE(WaitUntil([&] { return Connections(sim) == 2; }, 10s))
      << ConversationLogs(sim, service);
  EXPECT_EQ(service.Interrupt(), 0) << ConversationLogs(sim, service);
  EXPECT_EQ(CountLog(service, "Remote Shutdown"), 1);
  // The journal: each failure written once however many ticks it lasted (and
  // summed up when it ends), its end once.
  const std::string journal = service.Output();
  auto count = [&](const std::string& what) {
    int n = 0;
    for (auto at = journal.find(what); at != std::string::npos; at = journal.find(what, at + 1))
      ++n;
    return n;
  };
  EXPECT_EQ(count("<3>local database lost: Open_cn - 18456 - "), 2) << journal;
  EXPECT_EQ(count("<3>local database lost: Open_cn - 17 - "), 2) << journal;
  EXPECT_EQ(count(" (repeated "), 2) << journal;
  EXPECT_EQ(count("<5>local database back: open\n"), 2) << journal;
  EXPECT_EQ(count("<4>link down: closed while the local database is unavailable\n"), 1) << journal;
}

// `pvremote --status` in each state of a site, and a second run on the same
// application-data folder refused while the first one goes on untouched.
TEST_F(Pvremote, StatusIsHealthyDegradedOrNotRunningAndASecondRunIsRefused) {
  auto status = [&] { return Run({"--status"}); };
  EXPECT_EQ(status(),
            std::make_pair(3, std::string("status          not running (no status file in ") +
                                  root.AppData().string() + "/)\n"));
  {
    ServiceProcess service(root, sim.port(),
                           {local, {}, {{"PVREMOTE_TEST_INTERVALS", "60000,200,200,"}}});
    ASSERT_TRUE(WaitUntil([&] { return status().first == 0; }, 30s)) << status().second;
    const std::string lock = ReadFile((root.AppData() / "pvremote.lock").string());
    const auto statusFile = fs::last_write_time(root.AppData() / "status.json");

    const auto [second, said] = Run({});
    EXPECT_EQ(second, 1);
    EXPECT_NE(said.find("another pvremote (pid " + std::to_string(service.process().pid()) +
                        ") is running on " + root.AppData().string()),
              std::string::npos)
        << said;
    EXPECT_EQ(ReadFile((root.AppData() / "pvremote.lock").string()), lock);
    EXPECT_EQ(fs::last_write_time(root.AppData() / "status.json"), statusFile);
    EXPECT_TRUE(service.process().Running());

    db::embedded::SetOnline(root.DataRoot(), local.server, local.port, false);
    ASSERT_TRUE(WaitUntil([&] { return status().first == 1; }, 30s)) << status().second;
    const auto [code, text] = status();
    EXPECT_NE(text.find("status          degraded: link down"), std::string::npos) << text;
    EXPECT_NE(text.find("local database unavailable (Open_cn - 17 - "), std::string::npos) << text;
    const auto [jsonCode, json] = Run({"--status", "--json"});
    EXPECT_EQ(jsonCode, 1);
    const auto record = service::StatusRecord::FromJson(json);
    ASSERT_TRUE(record) << json;
    EXPECT_EQ(record->Get("health"), "degraded");
    EXPECT_EQ(record->Number("pid"), service.process().pid());
    EXPECT_EQ(record->Get("installationId"), "1");
    EXPECT_EQ(record->Get("localDatabase"), "unavailable");

    db::embedded::SetOnline(root.DataRoot(), local.server, local.port, true);
    EXPECT_TRUE(WaitUntil([&] { return status().first == 0; }, 30s)) << status().second;
    EXPECT_EQ(service.Interrupt(), 0);
  }
  const auto [after, text] = status();
  EXPECT_EQ(after, 3);
  EXPECT_NE(text.find("status          not running: no process holds the service's lock"),
            std::string::npos)
      << text;
}

// The verdict of `pvremote --status` from the fields of the status file.
TEST(StatusVerdict, LinkDatabaseAndQueueAgeDecideBetweenHealthyAndDegraded) {
  struct Case {
    const char* link;
    const char* database;
    long long depth, oldest, writtenAgo;  // seconds
    bool running;
    int health;
    const char* problems;
  };
  const std::vector<Case> cases{
      {"up", "open", 0, 0, 9999, true, 0, ""},
      {"up", "open", 3, 200, 100, true, 0, ""},
      {"up", "open", 3, 200, 101, true, 1, "update queue row waiting 5 min"},
      {"down", "open", 0, 0, 0, true, 1, "link down (refused)"},
      {"up", "unavailable", 0, 0, 0, true, 1, "local database unavailable"},
      {"down", "closed", 0, 0, 0, false, 3, "no process holds the service's lock"},
  };
  for (const Case& c : cases) {
    service::StatusRecord r;
    r.Set("link", c.link);
    if (std::string(c.link) == "down") r.Set("linkReason", "refused");
    r.Set("localDatabase", c.database);
    r.SetNumber("queueDepth", c.depth);
    r.SetNumber("queueOldestSeconds", c.oldest);
    r.SetNumber("updatedEpoch", 1'000'000);
    const auto round = service::StatusRecord::FromJson(r.ToJson());
    ASSERT_TRUE(round) << r.ToJson();
    const service::Verdict v = service::Judge(&*round, c.running, 1'000'000 + c.writtenAgo);
    EXPECT_EQ(static_cast<int>(v.health), c.health) << c.link << c.depth;
    EXPECT_EQ(v.problems.empty() ? std::string() : v.problems[0], c.problems);
  }
}

// `pvremote --check` on a good site, then on one with a misspelt setting, a
// wrong password and nothing listening at the central port.
TEST_F(Pvremote, CheckPassesOnAGoodSiteAndNamesEachFailureWithAHint) {
  WriteSiteSettings(root, local, sim.port());
  const auto [good, said] = Run({"--check"});
  EXPECT_EQ(good, 0) << said;
  EXPECT_EQ(said.find("FAIL"), std::string::npos) << said;
  for (const char* part : {"OK   local database: login sa on localhost,1433, database Portavento",
                           "OK   local tables: 14 tables present", "OK   Settings row: 1 row(s)",
                           "OK   central port: 127.0.0.1:", "all checks passed"}) {
    EXPECT_NE(said.find(part), std::string::npos) << part << "\n" << said;
  }
  WriteSiteSettings(root, local, 1, {{"sqlPWD", "wrong"}, {"sqlPW", "local"}});
  const auto [bad, text] = Run({"--check"});
  EXPECT_EQ(bad, 1) << text;
  for (const char* part : {"OK   settings: read from ", "FAIL settings: settings file ",
                           "unknown value name \"sqlPW\", ignored (did you mean \"sqlPWD\"?)",
                           "FAIL local database: login sa on localhost,1433, database Portavento "
                           "(embedded, data root ",
                           "(hint: ", "OK   central host: 127.0.0.1 resolves",
                           "FAIL central port: 127.0.0.1:1: ", "some checks failed"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  }
}

TEST(PvremoteSwitches, EachSwitchCallsSystemctlAndAnythingElseNothing) {
  TempRoot root;
  const fs::path calls = root.path() / "calls.txt";
  const fs::path recorder = root.path() / "systemctl";
  const fs::path unit = root.path() / "etc/systemd/system/PVRemote.service";
  // Records every call; "enable" fails while the file "refuse" exists, and
  // the service is active while the file "running" does.
  const std::string dir = root.path().string() + "/";
  pv::testing::WriteFile(recorder.string(), "#!/bin/sh\necho \"$*\" >> '" + calls.string() +
                                                "'\ncase \"$*\" in *enable*) [ -e '" + dir +
                                                "refuse' ] && exit 1;; *is-active*) [ -e '" + dir +
                                                "running' ] || exit 3;; esac\nexit 0\n");
  fs::permissions(recorder, fs::perms(0755));
  settings::RegistryStore store(platform::Paths::UnderRoot(root.path().string()));
  store.SetRegValue("sqlPWD", "user secret", "", "HKCU");

  const std::string rootArg = "--root=" + root.path().string() + " ";
  std::string said;  // what the last run printed
  auto run = [&](const std::vector<std::string>& args) {
    fs::remove(calls);
    Process p(PvremoteProgram(), args,
              {{"PVREMOTE_ROOT", root.path().string()},
               {"PVREMOTE_SYSTEMCTL", recorder.string()},
               {"PVREMOTE_DEBUG", ""},
               {"INVOCATION_ID", ""},
               {"SYSTEMD_EXEC_PID", ""},
               {"NOTIFY_SOCKET", ""}},
              root.path() / "output.txt");
    const int status = p.WaitExit(10s).value_or(-1);
    said = p.Output();
    fs::remove(root.path() / "output.txt");
    std::vector<std::string> lines;
    std::istringstream s(ReadFile(calls.string()));
    for (std::string l; std::getline(s, l);) {
      EXPECT_EQ(l.rfind(rootArg, 0), 0u) << l;
      lines.push_back(l.substr(std::min(l.size(), rootArg.size())));
    }
    return std::make_pair(status, lines);
  };
  using Calls = std::vector<std::string>;

  auto [status, lines] = run({"/i"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(lines, (Calls{"enable PVRemote.service", "is-active --quiet PVRemote.service",
                          "start --no-block PVRemote.service"}));
  EXPECT_EQ(said, "pvremote: installed PVRemote.service (automatic start) and asked to start it\n");
  EXPECT_EQ(settings::DecodePassword(store.GetRegValue("sqlPWDq")), "user secret");
  const std::string text = ReadFile(unit.string());
  for (const char* line :
       {"Description=Portavento Remote\n", "Type=notify\n", "Restart=on-failure\n",
        "StateDirectory=pvremote\n", "StateDirectoryMode=0700\n", "WantedBy=multi-user.target\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
  const std::string exec = "ExecStart=\"" + fs::canonical(PvremoteProgram()).string() + "\"\n";
  EXPECT_NE(text.find(exec), std::string::npos) << text;
  if (std::system("command -v systemd-analyze >/dev/null 2>&1") == 0) {
    const fs::path verify = root.path() / "verify.txt";
    const std::string cmd =
        "systemd-analyze verify '" + unit.string() + "' >'" + verify.string() + "' 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << ReadFile(verify.string());
  }

  pv::testing::WriteFile((root.path() / "refuse").string(), "");
  std::tie(status, lines) = run({"/i"});
  EXPECT_NE(status, 0);
  EXPECT_EQ(lines, Calls{"enable PVRemote.service"});  // no start after a failed install
  fs::remove(root.path() / "refuse");

  // Installing over a running service restarts it.
  pv::testing::WriteFile(dir + "running", "");
  EXPECT_EQ(run({"/i"}).second,
            (Calls{"enable PVRemote.service", "is-active --quiet PVRemote.service",
                   "restart --no-block PVRemote.service"}));
  EXPECT_EQ(said,
            "pvremote: installed PVRemote.service (automatic start); it was running and is "
            "being restarted\n");

  EXPECT_EQ(run({"/ss"}).second, Calls{"start --no-block PVRemote.service"});
  EXPECT_EQ(said, "pvremote: asked to start PVRemote.service (not waiting)\n");
  EXPECT_EQ(run({" /C "}).second, Calls{"stop --no-block PVRemote.service"});
  EXPECT_EQ(run({"/c"}).second, Calls{"stop --no-block PVRemote.service"});
  EXPECT_EQ(said, "pvremote: asked to stop PVRemote.service (not waiting)\n");
  std::tie(status, lines) = run({"/u"});
  EXPECT_EQ(lines, Calls{"disable PVRemote.service"});
  EXPECT_EQ(said, "pvremote: stopped and removed PVRemote.service\n");
  // The program introduces itself without touching the service.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--version"}, {"--help"}, {"-h"}, {"/?"}}) {
    std::tie(status, lines) = run(args);
    EXPECT_EQ(status, 0) << args[0];
    EXPECT_TRUE(lines.empty()) << args[0];
    EXPECT_TRUE(said.starts_with(args[0] == "--version" ? "pvremote 1." : "Usage: pvremote ["))
        << said;
  }
  EXPECT_FALSE(fs::exists(unit));

  // Only "/c" is trimmed and compared without case; no switch at all is a
  // run, which needs systemd or a debug run.
  for (const std::vector<std::string>& other : {std::vector<std::string>{},
                                                {"/I"},
                                                {"/U"},
                                                {"/SS"},
                                                {" /i"},
                                                {"/i", "now"},
                                                {"/c", "/i"},
                                                {"--HELP"},
                                                {"--status", "now"},
                                                {""},
                                                {" "}}) {
    std::tie(status, lines) = run(other);
    EXPECT_NE(status, 0);
    EXPECT_TRUE(lines.empty()) << (other.empty() ? "(none)" : other[0]);
  }
  EXPECT_FALSE(fs::exists(root.ServiceFolder()));  // the service itself never ran
}

}  // namespace
}  // namespace pv::e2e
