// The conversation between the real pvremote (a debug run) and pvcentral on
// loopback, with both databases on the embedded engine under a private
// PVREMOTE_ROOT.
#include <gtest/gtest.h>

#include <regex>
#include <string>

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

}  // namespace
}  // namespace pv::e2e
