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

// What the default central instance hands out, as wire bytes.
const std::string kDbin =
    "+OK DBIN sa\xA7"
    "central\xA7localhost\xA7PVHome\xA7"
    "1434\xA7";
const std::string kKeyA = "AAAAAAAAAABBBBBBBBBBCCCCCCCCCCDDDDDDDDDDEEEEEEEEEE";
const std::string kKeyB = "ZYXWVUTSRQPONMLKJIHGFEDCBAZYXWVUTSRQPONMLKJIHGFEDC";

std::unique_ptr<db::Connection> Home(const TempRoot& root) {
  return Connect(root.DataRoot(), DefaultCentralInstance(), kDefaultHomeDatabase);
}

// Nothing more arrives for a short while.
void ExpectSilence(RawClient& c) {
  const auto m = c.Next(400ms);
  EXPECT_FALSE(m) << "unexpected message: " << *m;
}

long RssKilobytes(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

bool IsNewKey(const std::string& key) { return std::regex_match(key, std::regex("[A-Z]{50}")); }

TEST(Pvcentral, GreetsAssignsKeysAndIdentifiesInstallations) {
  TempRoot root;
  CentralSim sim(root);

  RawClient a(sim.port());
  EXPECT_EQ(a.Next(), "+OK CONN");
  a.Send("NWID " + kKeyA);
  EXPECT_EQ(a.Next(), "+OK INID " + kKeyA);
  EXPECT_EQ(a.Next(), "+OK VDID 1");
  EXPECT_EQ(a.Next(), kDbin);
  ExpectSilence(a);
  auto home = Home(root);
  EXPECT_EQ(QueryText(*home, "Select installationID From Installations Where id = 1"), kKeyA);

  // The next connection of the same site identifies with the assigned key.
  RawClient b(sim.port());
  EXPECT_EQ(b.Next(), "+OK CONN");
  b.Send("PVID " + kKeyA);
  EXPECT_EQ(b.Next(), "+OK VDID 1");
  EXPECT_EQ(b.Next(), kDbin);
  EXPECT_EQ(QueryInt(*home, "Select Count(*) From Installations"), 1);

  // Another site, with a quote in its key, and a key the simulator never saw.
  RawClient c(sim.port());
  EXPECT_EQ(c.Next(), "+OK CONN");
  c.Send("NWID O'NEIL");
  EXPECT_EQ(c.Next(), "+OK INID O'NEIL");
  EXPECT_EQ(c.Next(), "+OK VDID 2");
  EXPECT_EQ(c.Next(), kDbin);
  c.Send("PVID " + kKeyB);
  EXPECT_EQ(c.Next(), "+OK VDID 3");
  EXPECT_EQ(c.Next(), kDbin);
  EXPECT_EQ(QueryText(*home, "Select installationID From Installations Where id = 2"), "O'NEIL");
  EXPECT_EQ(QueryText(*home, "Select installationID From Installations Where id = 3"), kKeyB);

  // Keys that cannot be an installation key get no answer at all.
  c.Send("NWID");
  c.Send("NWID ");
  c.Send("PVID " + kKeyA + "X");
  c.Send(
      "NWID AB\x01"
      "C");
  ExpectSilence(c);
  EXPECT_EQ(QueryInt(*home, "Select Count(*) From Installations"), 3);
}

TEST(Pvcentral, AnswersOnlyWhatItIsToldWhenAutomaticRepliesAreOff) {
  TempRoot root;
  CentralSim sim(root,
                 CentralSimConfig::WithArgs({"--new-keys", "--no-auto-vdid", "--no-auto-dbin"}));

  RawClient a(sim.port());
  EXPECT_EQ(a.Next(), "+OK CONN");
  a.Send("NWID " + kKeyA);
  const auto inid = a.Next();
  ASSERT_TRUE(inid);
  ASSERT_EQ(inid->substr(0, 9), "+OK INID ");
  const std::string assigned = inid->substr(9);
  EXPECT_TRUE(IsNewKey(assigned)) << assigned;
  EXPECT_NE(assigned, kKeyA);
  ExpectSilence(a);

  ControlAnswer answer = sim.Command("vdid");
  EXPECT_TRUE(answer.ok) << answer.output;
  EXPECT_EQ(a.Next(), "+OK VDID 1");
  EXPECT_TRUE(sim.Command("dbin").ok);
  EXPECT_EQ(a.Next(), kDbin);
  EXPECT_TRUE(sim.Command("vdid 77").ok);
  EXPECT_EQ(a.Next(), "+OK VDID 77");
  auto home = Home(root);
  EXPECT_EQ(QueryText(*home, "Select installationID From Installations Where id = 1"), assigned);

  // Two new sites in the same moment still get different keys.
  a.Send("NWID " + kKeyA);
  const auto second = a.Next();
  ASSERT_TRUE(second);
  EXPECT_TRUE(IsNewKey(second->substr(9)));
  EXPECT_NE(second->substr(9), assigned);

  // A connection that has not identified has no installation id to confirm.
  RawClient b(sim.port());
  EXPECT_EQ(b.Next(), "+OK CONN");
  answer = sim.Command("@2 vdid");
  EXPECT_FALSE(answer.ok);
  EXPECT_NE(answer.output.find("no installation id"), std::string::npos) << answer.output;
}

TEST(Pvcentral, SendsOrdersAndCentralChangesOnCommand) {
  TempRoot root;
  CentralSim sim(root);

  ControlAnswer answer = sim.Command("datr");
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.output, "no service is connected");

  RawClient a(sim.port());
  EXPECT_EQ(a.Next(), "+OK CONN");
  a.Send("NWID " + kKeyA);
  EXPECT_EQ(a.Next(), "+OK INID " + kKeyA);
  EXPECT_EQ(a.Next(), "+OK VDID 1");
  EXPECT_EQ(a.Next(), kDbin);

  EXPECT_TRUE(sim.Command("datr").ok);
  EXPECT_EQ(a.Next(), "+OK DATR");
  EXPECT_TRUE(sim.Command("RPID").ok);
  EXPECT_EQ(a.Next(), "+OK RPID");
  EXPECT_TRUE(sim.Command("send UPDA 1\xC2\xA7"
                          "2\xC2\xA7NamesU\xC2\xA7"
                          "0")
                  .ok);
  EXPECT_EQ(a.Next(),
            "+OK UPDA 1\xA7"
            "2\xA7NamesU\xA7"
            "0");
  EXPECT_TRUE(sim.Command("send vdid").ok);  // the word goes out as written
  EXPECT_EQ(a.Next(), "+OK vdid");
  EXPECT_TRUE(sim.Command("dbin a\xC2\xA7"
                          "b\xC2\xA7"
                          "c\xC2\xA7"
                          "d\xC2\xA7"
                          "e")
                  .ok);
  EXPECT_EQ(a.Next(),
            "+OK DBIN a\xA7"
            "b\xA7"
            "c\xA7"
            "d\xA7"
            "e");
  EXPECT_TRUE(sim.Command("raw \\n+OK DATR\\r").ok);
  EXPECT_EQ(a.Next(), "\n+OK DATR\r");
  EXPECT_TRUE(sim.Command("raw \\xA7\\x00M\xC3\xBC").ok);
  EXPECT_EQ(a.Next(), std::string("\xA7\0M\xFC", 4));
  EXPECT_TRUE(sim.Command("rawpart +OK PV").ok);
  EXPECT_FALSE(a.Next(300ms));  // no delimiter yet
  EXPECT_TRUE(sim.Command("raw TE").ok);
  EXPECT_EQ(a.Next(), "+OK PVTE");
  answer = sim.Command("raw bad\\q");
  EXPECT_FALSE(answer.ok);
  EXPECT_NE(answer.output.find("escape"), std::string::npos) << answer.output;

  // One "UPDA" per queued central change of this installation, in id order.
  auto home = Home(root);
  home->Execute(
      "Insert Into UpdateQueue (instId, recordId, tableName, itemId) Values (1, 5, N'NamesU', "
      "Null);"
      "Insert Into UpdateQueue (instId, recordId, tableName, itemId) Values (2, 6, N'Emails', 3);"
      "Insert Into UpdateQueue (instId, recordId, tableName, itemId) Values (1, 7, "
      "N'AdditionalPhotosR', 9);");
  answer = sim.Command("upda");
  EXPECT_TRUE(answer.ok) << answer.output;
  EXPECT_EQ(answer.output, "2 UPDA order(s) sent to connection 1");
  EXPECT_EQ(a.Next(),
            "+OK UPDA 1\xA7"
            "5\xA7NamesU\xA7");
  EXPECT_EQ(a.Next(),
            "+OK UPDA 3\xA7"
            "7\xA7"
            "AdditionalPhotosR\xA7"
            "9");
  ExpectSilence(a);
  EXPECT_TRUE(sim.Command("upda 9\xC2\xA7"
                          "1\xC2\xA7"
                          "Emails\xC2\xA7"
                          "0")
                  .ok);
  EXPECT_EQ(a.Next(),
            "+OK UPDA 9\xA7"
            "1\xA7"
            "Emails\xA7"
            "0");

  // Waiting for a notice of the service.
  EXPECT_TRUE(sim.Command("mark").ok);
  a.Send("DASN");
  answer = sim.Command("wait DASN 10");
  EXPECT_TRUE(answer.ok) << answer.output;
  EXPECT_EQ(answer.output, "[1] DASN");
  answer = sim.Command("wait NEVER 1");
  EXPECT_FALSE(answer.ok);
  EXPECT_NE(answer.output.find("within 1 s"), std::string::npos) << answer.output;

  answer = sim.Command("list");
  EXPECT_NE(answer.output.find("[1] 127.0.0.1:"), std::string::npos) << answer.output;
  EXPECT_NE(answer.output.find("key=" + kKeyA + " installation=1"), std::string::npos);
  answer = sim.Command("received");
  EXPECT_NE(answer.output.find("1 [1] NWID " + kKeyA), std::string::npos) << answer.output;
  EXPECT_FALSE(sim.Command("@5 datr").ok);
  EXPECT_FALSE(sim.Command("bogus").ok);
  EXPECT_FALSE(sim.Command("").ok);

  // The control command-line: 0 done, 1 refused, 2 no simulator.
  auto control = [&](const std::vector<std::string>& args) {
    Process p(PvcentralProgram(), args, {}, root.path() / "control.txt");
    return p.WaitExit(30s);
  };
  EXPECT_EQ(control({"--control", sim.stateDir().string(), "send", "DATR"}), 0);
  EXPECT_EQ(a.Next(), "+OK DATR");
  EXPECT_EQ(control({"--control", sim.stateDir().string(), "bogus"}), 1);
  EXPECT_EQ(control({"--control", root.path().string(), "datr"}), 2);

  EXPECT_TRUE(sim.Command("drop").ok);
  EXPECT_TRUE(a.WaitClosed());
  EXPECT_EQ(control({"--control", sim.stateDir().string(), "datr"}), 1);
  EXPECT_EQ(sim.Stop(), 0) << sim.process().Output();
}

TEST(Pvcentral, LogsEveryMessageWithATimeStamp) {
  TempRoot root;
  CentralSimConfig config;
  config.quiet = false;
  CentralSim sim(root, config);
  RawClient a(sim.port());
  EXPECT_EQ(a.Next(), "+OK CONN");
  a.Send("NWID " + kKeyA);
  a.Send(
      "SDWE 1\xA7"
      "12");
  a.Send("UDPH");
  a.Send("DASN\r\n");
  EXPECT_TRUE(sim.WaitReceived("DASN", 10s));

  const std::vector<std::string> expected{"NWID " + kKeyA,
                                          "SDWE 1\xC2\xA7"
                                          "12",
                                          "UDPH", "DASN\r\n"};
  EXPECT_EQ(sim.Received(), expected);
  const auto sent = sim.Sent();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[0], "+OK CONN");
  EXPECT_EQ(sent[1], "+OK INID " + kKeyA);

  // Every line carries a local time stamp with milliseconds and the connection.
  const std::string log = sim.LogText();
  const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[1\] <- DASN\\r\\n\n)");
  EXPECT_TRUE(std::regex_search(log, line)) << log;
  EXPECT_NE(log.find("[1] connected 127.0.0.1:"), std::string::npos);
  EXPECT_NE(log.find("listening on 127.0.0.1:" + std::to_string(sim.port())), std::string::npos);
  // The same lines go to stdout.
  EXPECT_TRUE(WaitUntil(
      [&] {
        return sim.process().Output().find(
                   "<- SDWE 1\xC2\xA7"
                   "12") != std::string::npos;
      },
      5s));

  a.Close();
  EXPECT_TRUE(sim.WaitLine(
      [](const CentralLogLine& l) {
        return l.connection == 1 && l.text.rfind("disconnected: ", 0) == 0;
      },
      10s));
}

TEST(Pvcentral, GarbageNeitherCrashesItNorGrowsItsMemory) {
  TempRoot root;
  CentralSim sim(root, CentralSimConfig::WithArgs({"--max-pending", "65536"}));
  RawClient a(sim.port());
  EXPECT_EQ(a.Next(), "+OK CONN");

  // 32 MB of every byte value, never forming a delimiter.
  std::string chunk;
  for (int i = 0; i < 1024; ++i) {
    for (int b = 0; b < 256; ++b) chunk += static_cast<char>(b);
  }
  a.SendBytes(chunk);
  ASSERT_TRUE(sim.WaitLine(
      [](const CentralLogLine& l) {
        return l.text.find("without a delimiter") != std::string::npos;
      },
      10s));
  const long before = RssKilobytes(sim.process().pid());
  for (int i = 0; i < 128; ++i) a.SendBytes(chunk);
  a.Send("");  // ends the garbage: what is left of it arrives as one message
  a.Send("NWID " + kKeyA);
  EXPECT_EQ(a.Next(30s), "+OK INID " + kKeyA);
  const long after = RssKilobytes(sim.process().pid());
  ASSERT_GT(before, 0);
  EXPECT_LT(after - before, 8 * 1024) << "RSS grew from " << before << " kB to " << after << " kB";
  EXPECT_TRUE(
      sim.WaitLine([](const CentralLogLine& l) { return l.text.rfind("dropped ", 0) == 0; }, 10s));

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

TEST(Pvcentral, KnownInstallationsAreConfirmedWhileTheHomeDatabaseIsDown) {
  TempRoot root;
  CentralSim sim(root);
  RawClient a(sim.port());
  EXPECT_EQ(a.Next(), "+OK CONN");
  a.Send("NWID " + kKeyA);
  EXPECT_EQ(a.Next(), "+OK INID " + kKeyA);
  EXPECT_EQ(a.Next(), "+OK VDID 1");
  EXPECT_EQ(a.Next(), kDbin);

  const SqlInstance central = DefaultCentralInstance();
  db::embedded::SetOnline(root.DataRoot(), central.server, central.port, false);
  a.Send("PVID " + kKeyA);
  EXPECT_EQ(a.Next(), "+OK VDID 1");
  EXPECT_EQ(a.Next(), kDbin);
  a.Send("NWID " + kKeyB);
  ExpectSilence(a);
  EXPECT_TRUE(sim.WaitLine(
      [](const CentralLogLine& l) {
        return l.text.find("home database failed, no answer to NWID") != std::string::npos;
      },
      5s));
  const ControlAnswer answer = sim.Command("upda");
  EXPECT_FALSE(answer.ok);
  EXPECT_EQ(answer.output.rfind("home database: ", 0), 0u) << answer.output;

  db::embedded::SetOnline(root.DataRoot(), central.server, central.port, true);
  a.Send("NWID " + kKeyB);
  EXPECT_EQ(a.Next(), "+OK INID " + kKeyB);
  EXPECT_EQ(a.Next(), "+OK VDID 2");
}

TEST(Pvcentral, TakesCommandsOnStandardInput) {
  TempRoot root;
  const std::filesystem::path state = root.path() / "central";
  Process p(PvcentralProgram(), {"--port", "0", "--state", state.string()},
            {{"PVREMOTE_ROOT", root.path().string()}}, root.path() / "stdin-run.txt", true);
  unsigned short port = 0;
  ASSERT_TRUE(WaitUntil(
      [&] {
        std::ifstream in(state / "pvcentral.port");
        return static_cast<bool>(in >> port) || !p.Running();
      },
      60s))
      << p.Output();
  ASSERT_NE(port, 0) << p.Output();
  RawClient a(port);
  EXPECT_EQ(a.Next(), "+OK CONN");
  ASSERT_TRUE(
      WaitUntil([&] { return p.Output().find("[1] connected") != std::string::npos; }, 10s));

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
  auto run = [&](std::vector<std::string> args, const std::string& name) {
    Process p(PvcentralProgram(), args, {{"PVREMOTE_ROOT", root.path().string()}},
              root.path() / name);
    const auto code = p.WaitExit(60s);
    return std::make_pair(code, p.Output());
  };
  const std::string state = (root.path() / "second").string();
  auto [code, output] =
      run({"--state", state, "--no-stdin", "--port", std::to_string(sim.port())}, "taken.txt");
  EXPECT_EQ(code, 1);
  EXPECT_NE(output.find("cannot listen on 127.0.0.1:" + std::to_string(sim.port())),
            std::string::npos)
      << output;

  std::tie(code, output) = run({"--state", state, "--no-stdin", "--port", "0", "--home-database",
                                "Other", "--home-script", "/nonexistent.sql"},
                               "script.txt");
  EXPECT_EQ(code, 1);
  EXPECT_NE(output.find("cannot prepare the home database"), std::string::npos) << output;

  std::tie(code, output) = run({"--port", "70000"}, "usage.txt");
  EXPECT_EQ(code, 2);
  EXPECT_NE(output.find("--port needs a number"), std::string::npos) << output;
  std::tie(code, output) = run({"--help"}, "help.txt");
  EXPECT_EQ(code, 0);
  EXPECT_NE(output.find("--control STATE-DIR"), std::string::npos);
}

}  // namespace
}  // namespace pv::e2e
