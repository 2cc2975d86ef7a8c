// The conversation between the real pvremote (a debug run) and pvcentral on
// loopback, with both databases on the embedded engine under a private
// PVREMOTE_ROOT.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "db/embedded/embedded_engine.h"
#include "tests/e2e/central_sim.h"
#include "tests/e2e/service_process.h"
#include "tests/e2e/sql_site.h"
#include "tests/e2e/temp_root.h"
#include "tests/support/wait.h"

namespace pv::e2e {
namespace {

using namespace std::chrono_literals;

// A site on the embedded engine: the local instance with "Portavento".
struct Site {
  Site() { CreateLocalSite(root.DataRoot(), local); }

  // The installation key the service stored locally ("" while there is none).
  std::string StoredKey() const {
    try {
      auto c = Connect(root.DataRoot(), local, "Portavento");
      return QueryText(*c, "Select installationID From Settings");
    } catch (const std::exception&) {
      return {};  // the column appears with the first identification
    }
  }

  TempRoot root;
  SqlInstance local;
};

TEST(Conversation, NewSiteIsGivenAKeyAndIdentifiesWithItFromThenOn) {
  Site site;
  CentralSim sim(site.root);
  std::string key;
  {
    ServiceProcess service(site.root, sim.port(), site.local);
    const auto nwid = sim.WaitReceived("NWID ", 60s);
    ASSERT_TRUE(nwid) << ConversationLogs(sim, service);
    key = sim.Received()[*nwid].substr(5);
    EXPECT_TRUE(std::regex_match(key, std::regex("[A-Z]{50}"))) << key;

    // The simulator answered with INID (the same key), VDID and DBIN.
    EXPECT_TRUE(WaitUntil([&] { return site.StoredKey() == key; }, 30s))
        << "stored: " << site.StoredKey() << ConversationLogs(sim, service);
    EXPECT_TRUE(sim.WaitReceived("DBCN", 30s, *nwid)) << ConversationLogs(sim, service);
    EXPECT_TRUE(service.WaitLog("Remote Started", 10s)) << ConversationLogs(sim, service);
    auto home = Connect(site.root.DataRoot(), DefaultCentralInstance(), kDefaultHomeDatabase);
    EXPECT_EQ(QueryText(*home, "Select installationID From Installations Where id = 1"), key);

    EXPECT_EQ(service.Interrupt(), 0) << ConversationLogs(sim, service);
    EXPECT_TRUE(service.WaitLog("Remote Shutdown", 1s)) << ConversationLogs(sim, service);
    EXPECT_TRUE(sim.WaitLine(
        [](const CentralLogLine& l) { return l.text.rfind("disconnected: ", 0) == 0; }, 10s));
  }

  // The next start identifies with the stored key and asks for no new one.
  const std::size_t before = sim.ReceivedCount();
  ServiceProcess service(site.root, sim.port(), site.local);
  const auto pvid = sim.WaitReceived("PVID ", 60s, before);
  ASSERT_TRUE(pvid) << ConversationLogs(sim, service);
  EXPECT_EQ(sim.Received()[*pvid], "PVID " + key);
  EXPECT_TRUE(sim.WaitReceived("DBCN", 30s, *pvid)) << ConversationLogs(sim, service);

  // "RPID": the server asks again and hears the same key.
  const std::size_t mark = sim.ReceivedCount();
  EXPECT_TRUE(sim.Command("rpid").ok);
  const auto again = sim.WaitReceived("PVID ", 30s, mark);
  ASSERT_TRUE(again) << ConversationLogs(sim, service);
  EXPECT_EQ(sim.Received()[*again], "PVID " + key);
  const auto received = sim.Received();
  for (std::size_t i = before; i < received.size(); ++i) {
    EXPECT_NE(received[i].rfind("NWID ", 0), 0u) << received[i];
  }
  auto home = Connect(site.root.DataRoot(), DefaultCentralInstance(), kDefaultHomeDatabase);
  EXPECT_EQ(QueryInt(*home, "Select Count(*) From Installations"), 1);
  EXPECT_EQ(site.StoredKey(), key);
}

TEST(Conversation, CentralDataIsConfirmedWithDbcnExactlyWhenItsLoginWorks) {
  Site site;
  CentralSim sim(site.root);
  ServiceProcess service(site.root, sim.port(), site.local);
  const auto first = sim.WaitReceived("DBCN", 60s);
  ASSERT_TRUE(first) << ConversationLogs(sim, service);

  // Orders are handled in turn, so a "DBCN" for any of the bad orders would
  // arrive before the one for the good order that follows them.
  const std::string s = "\xC2\xA7";
  auto dbin = [&](const std::string& fields) {
    const ControlAnswer a = sim.Command("dbin " + fields);
    EXPECT_TRUE(a.ok) << a.output;
  };
  auto expectOnlyTheLastAnswered = [&](std::size_t from, const std::string& what) {
    const auto dbcn = sim.WaitReceived("DBCN", 30s, from);
    ASSERT_TRUE(dbcn) << what << ConversationLogs(sim, service);
    const auto received = sim.Received();
    for (std::size_t i = from; i < *dbcn; ++i) EXPECT_NE(received[i], "DBCN") << what;
  };

  std::size_t from = sim.ReceivedCount();
  dbin("sa" + s + "wrong" + s + "localhost" + s + "PVHome" + s + "1434" + s);      // password
  dbin("sa" + s + "central" + s + "localhost" + s + "NoSuchDb" + s + "1434" + s);  // database
  dbin("sa" + s + "central" + s + "localhost" + s + "PVHome" + s + "1499" + s);    // no server
  dbin("sa" + s + "central" + s + "localhost" + s + "PVHome" + s + "1434");        // 5 pieces
  dbin("sa" + s + "central" + s + "localhost" + s + "PVHome" + s + "1434" + s + "x" + s + "y");
  expectOnlyTheLastAnswered(from, "seven pieces");

  // A login without a password.
  const SqlInstance central = DefaultCentralInstance();
  db::embedded::SetLogin(site.root.DataRoot(), central.server, central.port, "nopass", "");
  from = sim.ReceivedCount();
  dbin("nopass" + s + "x" + s + "localhost" + s + "PVHome" + s + "1434" + s);
  dbin("nopass" + s + s + "localhost" + s + "PVHome" + s + "1434" + s);
  expectOnlyTheLastAnswered(from, "empty password");

  // The central instance stopped: no "DBCN" until it is back.
  db::embedded::SetOnline(site.root.DataRoot(), central.server, central.port, false);
  from = sim.ReceivedCount();
  dbin("");
  EXPECT_TRUE(sim.Command("pvte").ok);  // ignored by the service
  db::embedded::SetOnline(site.root.DataRoot(), central.server, central.port, true);
  dbin("");
  expectOnlyTheLastAnswered(from, "instance back online");
  EXPECT_TRUE(service.process().Running()) << ConversationLogs(sim, service);
}

// What an operator reads in the journal (standard error with priorities) of
// one whole conversation: start, settings (with a misspelt name), link,
// identification, central data, a full upload, a drain, a central change,
// the stop. Passwords show only as "set".
TEST(Conversation, JournalTellsEachStepWithItsPriority) {
  Site site;
  CentralSim sim(site.root);
  ServiceProcess service(
      site.root, sim.port(),
      {site.local, {{"sqlPW", "typo"}}, {{"PVREMOTE_TEST_INTERVALS", ",,,200"}}});
  ASSERT_TRUE(sim.WaitReceived("DBCN", 60s)) << ConversationLogs(sim, service);
  std::size_t mark = sim.ReceivedCount();
  ASSERT_TRUE(sim.Command("datr").ok);
  ASSERT_TRUE(sim.WaitReceived("DASN", 60s, mark)) << ConversationLogs(sim, service);
  {
    auto local = Connect(site.root.DataRoot(), site.local, "Portavento");
    local->Execute("Insert Into UpdateQueue (tableName, resId, recordId) Values (N'NamesU', 1, 0)");
  }
  ASSERT_TRUE(WaitUntil([&] { return service.Output().find("drained") != std::string::npos; }, 30s))
      << ConversationLogs(sim, service);
  ASSERT_TRUE(sim.Command("upda 999\xC2\xA7"
                          "1\xC2\xA7TenantAccess\xC2\xA7"
                          "0")
                  .ok);
  ASSERT_TRUE(
      WaitUntil([&] { return service.Output().find("central change") != std::string::npos; }, 30s))
      << ConversationLogs(sim, service);
  ASSERT_EQ(service.Interrupt(), 0) << ConversationLogs(sim, service);

  const std::vector<std::string> expected{
      R"(<5>pvremote \S+.* started \(pid \d+\), central server 127\.0\.0\.1:\d+)",
      R"(<6>settings read from \S+machine\.reg: sqlDriver=embedded, sqlUID=sa, password=set \(sqlPWD\), sqlPort=1433, .*)",
      R"(<4>settings file \S+: unknown value name "sqlPW", ignored \(did you mean "sqlPWD"\?\))",
      R"(<6>local database open)",
      R"(<5>link up: connected to 127\.0\.0\.1:\d+)",
      R"(<6>identification: no key stored yet, a new key offered \(NWID\))",
      R"(<5>identification: key assigned by the central server \(INID\), stored)",
      R"(<5>installation id 1 confirmed \(VDID\))",
      R"(<5>DBIN accepted: server localhost,1434, database PVHome)",
      R"(<5>full upload started \(DATR\))",
      R"(<5>full upload completed after \d+\.\d s: Names \d+, TenantAccess \d+, .*; photos \d+)",
      R"(<6>update queue drained: 1 sent, 0 failed, 0 left)",
      R"(<[36]>central change (applied|failed): TenantAccess for record 1 \(central queue row 999, item 0\).*)",
      R"(<5>pvremote stopped)"};
  std::istringstream output(service.Output());
  std::size_t next = 0;
  for (std::string line; std::getline(output, line);) {
    if (line.starts_with("<") && line.find("link down") != std::string::npos) continue;
    if (next < expected.size() && std::regex_match(line, std::regex(expected[next]))) ++next;
  }
  EXPECT_EQ(next, expected.size()) << "missing: " << expected[std::min(next, expected.size() - 1)]
                                   << ConversationLogs(sim, service);
  // The daily log keeps only its own lines.
  EXPECT_EQ(service.LogText().find("link up"), std::string::npos);
}

}  // namespace
}  // namespace pv::e2e
