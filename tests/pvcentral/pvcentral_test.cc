// The real pvcentral program on loopback, driven by a raw client of the
// test's own and by its control command-line, with its home database on the
// embedded engine.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

#include "db/embedded/embedded_engine.h"
#include "tests/e2e/central_sim.h"
#include "tests/e2e/programs.h"
#include "tests/e2e/raw_client.h"
#include "tests/e2e/sql_site.h"
#include "tests/e2e/temp_root.h"
#include "tests/support/wait.h"

namespace pv::e2e {
namespace {

using namespace std::chrono_literals;

// `text` with every '|' turned into the field separator "§": in UTF-8 for
// commands and the log, as the Windows-1252 byte 0xA7 for the wire.
std::string Utf8(std::string t) { return std::regex_replace(t, std::regex("\\|"), "\xC2\xA7"); }
std::string Wire(std::string t) { return std::regex_replace(t, std::regex("\\|"), "\xA7"); }

// What the default central instance hands out.
const std::string kDbin = Wire("+OK DBIN sa|central|localhost|PVHome|1434|");
const std::string kKeyA = "AAAAAAAAAABBBBBBBBBBCCCCCCCCCCDDDDDDDDDDEEEEEEEEEE";
const std::string kKeyB = "ZYXWVUTSRQPONMLKJIHGFEDCBAZYXWVUTSRQPONMLKJIHGFEDC";

std::unique_ptr<db::Connection> Home(const TempRoot& root) {
  return Connect(root.DataRoot(), DefaultCentralInstance(), kDefaultHomeDatabase);
}

// The key recorded for installation `id` in the home database.
std::string KeyOf(const TempRoot& root, int id) {
  return QueryText(*Home(root),
                   "Select installationID From Installations Where id = " + std::to_string(id));
}

// Nothing more arrives for a short while.
void ExpectSilence(RawClient& c) {
  const auto m = c.Next(400ms);
  EXPECT_FALSE(m) << "unexpected message: " << *m;
}

// The greeting, then a new site's key confirmed, its id and the central data.
void ExpectNewSite(RawClient& c, const std::string& key, const std::string& id) {
  EXPECT_EQ(c.Next(), "+OK CONN");
  c.Send("NWID " + key);
  EXPECT_EQ(c.Next(), "+OK INID " + key);
  EXPECT_EQ(c.Next(), "+OK VDID " + id);
  EXPECT_EQ(c.Next(), kDbin);
}

// The command succeeds and the client receives `expected`.
void ExpectOrder(CentralSim& sim, RawClient& c, const std::string& command,
                 const std::string& expected) {
  const ControlAnswer answer = sim.Command(command);
  EXPECT_TRUE(answer.ok) << command << ": " << answer.output;
  EXPECT_EQ(c.Next(), expected) << command;
}

// The command fails with a reason that holds `reason`.
void ExpectRefused(CentralSim& sim, const std::string& command, const std::string& reason) {
  const ControlAnswer answer = sim.Command(command);
  EXPECT_FALSE(answer.ok) << command;
  EXPECT_NE(answer.output.find(reason), std::string::npos) << command << ": " << answer.output;
}

// pvcentral run to its end exits with `code` and prints `text`.
::testing::AssertionResult Exits(const TempRoot& root, const std::vector<std::string>& args,
                                 int code, const std::string& text = {}) {
  static int runs = 0;
  Process p(PvcentralProgram(), args, {{"PVREMOTE_ROOT", root.path().string()}},
            root.path() / ("run" + std::to_string(++runs) + ".txt"));
  const std::optional<int> exit = p.WaitExit(60s);
  if (exit == code && p.Output().find(text) != std::string::npos) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "exit " << exit.value_or(-1) << ": " << p.Output();
}

bool WaitLog(CentralSim& sim, const std::string& text) {
  return sim.WaitLine(
      [&](const CentralLogLine& l) { return l.text.find(text) != std::string::npos; }, 10s);
}

long RssKilobytes(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// The key of the "INID" that arrives next, which must be a fresh one.
std::string AssignedKey(RawClient& c) {
  const std::string m = c.Next().value_or("");
  EXPECT_TRUE(std::regex_match(m, std::regex("\\+OK INID [A-Z]{50}"))) << m;
  return m.substr(std::min<std::size_t>(9, m.size()));
}

TEST(Pvcentral, IdentifiesInstallationsAndConfirmsKnownOnesWhileTheHomeDatabaseIsDown) {
  TempRoot root;
  CentralSim sim(root);
  RawClient a(sim.port());
  ExpectNewSite(a, kKeyA, "1");
  ExpectSilence(a);
  EXPECT_EQ(KeyOf(root, 1), kKeyA);

  // Another site, with a quote in its key, and a key the simulator never saw.
  RawClient c(sim.port());
  ExpectNewSite(c, "O'NEIL", "2");
  c.Send("PVID " + kKeyB);
  EXPECT_EQ(c.Next(), "+OK VDID 3");
  EXPECT_EQ(c.Next(), kDbin);
  EXPECT_EQ(KeyOf(root, 2), "O'NEIL");
  EXPECT_EQ(KeyOf(root, 3), kKeyB);

  // Keys that cannot be an installation key get no answer at all.
  for (const std::string& m :
       std::vector<std::string>{"NWID", "NWID ", "PVID " + kKeyA + "X", "NWID AB\001C"}) {
    c.Send(m);
  }
  ExpectSilence(c);
  EXPECT_EQ(QueryInt(*Home(root), "Select Count(*) From Installations"), 3);

  // Home database down: a key seen in this run keeps its id, a new one waits.
  const SqlInstance central = DefaultCentralInstance();
  db::embedded::SetOnline(root.DataRoot(), central.server, central.port, false);
  a.Send("PVID " + kKeyA);
  EXPECT_EQ(a.Next(), "+OK VDID 1");
  EXPECT_EQ(a.Next(), kDbin);
  a.Send("NWID NEWSITE");
  ExpectSilence(a);
  EXPECT_TRUE(WaitLog(sim, "home database failed, no answer to NWID"));
  ExpectRefused(sim, "@1 upda", "home database: ");
  db::embedded::SetOnline(root.DataRoot(), central.server, central.port, true);
  a.Send("NWID NEWSITE");
  EXPECT_EQ(a.Next(), "+OK INID NEWSITE");
  EXPECT_EQ(a.Next(), "+OK VDID 4");
}

TEST(Pvcentral, AnswersOnlyWhatItIsToldWhenAutomaticRepliesAreOff) {
  TempRoot root;
  CentralSim sim(root,
                 CentralSimConfig::WithArgs({"--new-keys", "--no-auto-vdid", "--no-auto-dbin"}));
  RawClient a(sim.port());
  EXPECT_EQ(a.Next(), "+OK CONN");
  a.Send("NWID " + kKeyA);
  const std::string assigned = AssignedKey(a);
  ExpectSilence(a);

  ExpectOrder(sim, a, "vdid", "+OK VDID 1");
  ExpectOrder(sim, a, "dbin", kDbin);
  ExpectOrder(sim, a, "vdid 77", "+OK VDID 77");
  EXPECT_EQ(KeyOf(root, 1), assigned);

  // Two new sites in the same moment still get different keys.
  a.Send("NWID " + kKeyA);
  EXPECT_NE(AssignedKey(a), assigned);

  // A connection that has not identified has no installation id to confirm.
  RawClient b(sim.port());
  EXPECT_EQ(b.Next(), "+OK CONN");
  ExpectRefused(sim, "@2 vdid", "no installation id");
}

TEST(Pvcentral, SendsOrdersOnCommandAndLogsEveryMessage) {
  TempRoot root;
  CentralSimConfig config;
  config.quiet = false;
  CentralSim sim(root, config);
  ExpectRefused(sim, "datr", "no service is connected");

  RawClient a(sim.port());
  ExpectNewSite(a, kKeyA, "1");
  ExpectOrder(sim, a, "datr", "+OK DATR");
  ExpectOrder(sim, a, "RPID", "+OK RPID");
  ExpectOrder(sim, a, Utf8("send UPDA 1|2|NamesU|0"), Wire("+OK UPDA 1|2|NamesU|0"));
  ExpectOrder(sim, a, "send vdid", "+OK vdid");  // the word goes out as written
  ExpectOrder(sim, a, Utf8("dbin a|b|c|d|e"), Wire("+OK DBIN a|b|c|d|e"));
  ExpectOrder(sim, a, "raw \\n+OK DATR\\r", "\n+OK DATR\r");
  ExpectOrder(sim, a, "raw \\xA7\\x00M\xC3\xBC", std::string("\xA7\0M\xFC", 4));
  EXPECT_TRUE(sim.Command("rawpart +OK PV").ok);
  EXPECT_FALSE(a.Next(300ms));  // no delimiter yet
  ExpectOrder(sim, a, "raw TE", "+OK PVTE");
  ExpectRefused(sim, "raw bad\\q", "escape");

  // One "UPDA" per queued central change of this installation, in id order.
  const std::string queue = "Insert Into UpdateQueue (instId, recordId, tableName, itemId) Values ";
  Home(root)->Execute(queue + "(1, 5, N'NamesU', Null);" + queue + "(2, 6, N'Emails', 3);" + queue +
                      "(1, 7, N'Photos', 9);");
  ControlAnswer answer = sim.Command("upda");
  EXPECT_EQ(answer.output, "2 UPDA order(s) sent to connection 1");
  EXPECT_EQ(a.Next(), Wire("+OK UPDA 1|5|NamesU|"));
  EXPECT_EQ(a.Next(), Wire("+OK UPDA 3|7|Photos|9"));
  ExpectSilence(a);
  ExpectOrder(sim, a, Utf8("upda 9|1|Emails|0"), Wire("+OK UPDA 9|1|Emails|0"));

  // Waiting for a notice of the service; control characters come back escaped.
  EXPECT_TRUE(sim.Command("mark").ok);
  a.Send(Wire("SDWE 1|12"));
  a.Send("DASN\r\n");
  answer = sim.Command("wait DASN 10");
  EXPECT_TRUE(answer.ok);
  EXPECT_EQ(answer.output, "[1] DASN\\r\\n");
  ExpectRefused(sim, "wait NEVER 1", "within 1 s");
  // "stall": what arrives meanwhile is handled once the time is up.
  ExpectRefused(sim, "stall 0", "1 to 3600");
  EXPECT_TRUE(sim.Command("stall 2").ok);
  a.Send("PVTE");
  ExpectRefused(sim, "wait PVTE 1", "within 1 s");
  EXPECT_TRUE(sim.Command("wait PVTE 10").ok);
  answer = sim.Command("list");
  EXPECT_NE(answer.output.find("[1] 127.0.0.1:"), std::string::npos) << answer.output;
  EXPECT_NE(answer.output.find("key=" + kKeyA + " installation=1"), std::string::npos);
  answer = sim.Command("received");
  EXPECT_NE(answer.output.find("1 [1] NWID " + kKeyA), std::string::npos) << answer.output;
  for (const char* bad : {"@5 datr", "bogus", ""}) EXPECT_FALSE(sim.Command(bad).ok) << bad;

  // The control command-line: 0 done, 1 refused, 2 no simulator.
  const std::string state = sim.stateDir().string();
  EXPECT_TRUE(Exits(root, {"--control", state, "send", "DATR"}, 0));
  EXPECT_EQ(a.Next(), "+OK DATR");
  EXPECT_TRUE(Exits(root, {"--control", state, "bogus"}, 1, "unknown command: bogus"));
  EXPECT_TRUE(Exits(root, {"--control", root.path().string(), "datr"}, 2));
  EXPECT_TRUE(sim.Command("drop").ok);
  EXPECT_TRUE(a.WaitClosed());
  EXPECT_TRUE(Exits(root, {"--control", state, "datr"}, 1, "no service is connected"));

  // Every line of the log carries a local time stamp with milliseconds and
  // the connection, and goes to stdout too.
  EXPECT_EQ(sim.Received(),
            (std::vector<std::string>{"NWID " + kKeyA, Utf8("SDWE 1|12"), "DASN\r\n", "PVTE"}));
  EXPECT_EQ(sim.Sent().front(), "+OK CONN");
  const std::string log = sim.LogText();
  const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[1\] <- DASN\\r\\n\n)");
  EXPECT_TRUE(std::regex_search(log, line)) << log;
  EXPECT_NE(log.find("[1] connected 127.0.0.1:"), std::string::npos);
  EXPECT_NE(log.find("listening on 127.0.0.1:" + std::to_string(sim.port())), std::string::npos);
  EXPECT_TRUE(WaitLog(sim, "disconnected: dropped by the operator"));
  EXPECT_NE(sim.process().Output().find(Utf8("<- SDWE 1|12")), std::string::npos);
  EXPECT_EQ(sim.Stop(), 0) << sim.process().Output();
}

TEST(Pvcentral, GarbageNeitherCrashesItNorGrowsItsMemory) {
  TempRoot root;
  CentralSim sim(root, CentralSimConfig::WithArgs({"--max-pending", "65536"}));
  RawClient a(sim.port());
  EXPECT_EQ(a.Next(), "+OK CONN");

  // 32 MB of every byte value, never forming a delimiter.
  std::string chunk;
  for (int i = 0; i < 256 * 1024; ++i) chunk += static_cast<char>(i);
  a.SendBytes(chunk);
  ASSERT_TRUE(WaitLog(sim, "without a delimiter"));
  const long before = RssKilobytes(sim.process().pid());
  for (int i = 0; i < 128; ++i) a.SendBytes(chunk);
  a.Send("");  // ends the garbage: what is left of it arrives as one message
  a.Send("NWID " + kKeyA);
  EXPECT_EQ(a.Next(30s), "+OK INID " + kKeyA);
  const long after = RssKilobytes(sim.process().pid());
  ASSERT_GT(before, 0);
  EXPECT_LT(after - before, 8 * 1024) << "RSS grew from " << before << " kB to " << after << " kB";
  EXPECT_TRUE(WaitLog(sim, "bytes received without a delimiter"));

  // Odd messages are logged and otherwise ignored; the connection goes on.
  a.SendBytes(std::string("\xFF\x00", 2) + "+OK:tPVStr:tPVStr\r\n:tPVStr");
  a.Send("PVID " + kKeyA);
  EXPECT_EQ(a.Next(), "+OK VDID 1");
  // A connection that ends in the middle of a message harms no one.
  a.SendBytes("NWID HALF");
  a.Close();
  RawClient b(sim.port());
  EXPECT_EQ(b.Next(), "+OK CONN");
  EXPECT_EQ(sim.Stop(), 0) << sim.process().Output();
}

TEST(Pvcentral, TakesCommandsOnStandardInput) {
  TempRoot root;
  const std::filesystem::path state = root.path() / "central";
  Process p(PvcentralProgram(), {"--port", "0", "--state", state.string()},
            {{"PVREMOTE_ROOT", root.path().string()}}, root.path() / "stdin-run.txt", true);
  unsigned short port = 0;
  ASSERT_TRUE(WaitUntil([&] { return !!(std::ifstream(state / "pvcentral.port") >> port); }, 60s))
      << p.Output();
  RawClient a(port);
  EXPECT_EQ(a.Next(), "+OK CONN");  // sent once the connection is counted

  EXPECT_TRUE(p.WriteInput("datr\n" + std::string(2 << 20, 'x') + "\nraw \\xA7\r\n"));
  EXPECT_EQ(a.Next(), "+OK DATR");
  EXPECT_EQ(a.Next(), "\xA7");
  EXPECT_TRUE(p.WriteInput("nonsense\n"));
  EXPECT_TRUE(WaitUntil(
      [&] { return p.Output().find("error: unknown command: nonsense") != std::string::npos; },
      10s))
      << p.Output();
  EXPECT_TRUE(p.WriteInput("quit\n"));
  EXPECT_EQ(p.WaitExit(30s), 0) << p.Output();
  EXPECT_TRUE(a.WaitClosed());
  EXPECT_FALSE(std::filesystem::exists(state / "control.port"));
}

TEST(Pvcentral, StartFailuresAreReportedWithTheirReason) {
  TempRoot root;
  CentralSim sim(root);
  const std::string state = (root.path() / "second").string();
  const std::string port = std::to_string(sim.port());
  EXPECT_TRUE(Exits(root, {"--state", state, "--no-stdin", "--port", port}, 1,
                    "cannot listen on 127.0.0.1:" + port));
  EXPECT_TRUE(Exits(root,
                    {"--state", state, "--no-stdin", "--port", "0", "--home-database", "Other",
                     "--home-script", "/nonexistent.sql"},
                    1, "cannot prepare the home database"));
  EXPECT_TRUE(Exits(root, {"--port", "70000"}, 2, "--port needs a number"));
}

}  // namespace
}  // namespace pv::e2e
