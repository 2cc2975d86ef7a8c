// The real pvremote (a debug run) and the real pvcentral, both databases on
// the embedded engine: "DATR" copies the local site to the central side, and
// "UPDA" orders, made by pvcentral from rows of its UpdateQueue, bring central
// edits back to the local site.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "db/embedded/embedded_engine.h"
#include "sync/full_upload.h"
#include "tests/e2e/central_sim.h"
#include "tests/e2e/service_process.h"
#include "tests/e2e/sql_site.h"
#include "tests/e2e/temp_root.h"
#include "tests/support/sample_site.h"
#include "tests/support/site.h"
#include "tests/support/wait.h"

namespace pv::e2e {
namespace {

using namespace std::chrono_literals;

TEST(SyncThroughTheLink, DatrCopiesTheSiteAndUpdaOrdersChangeIt) {
  TempRoot root;
  SqlInstance local;
  CreateLocalSite(root.DataRoot(), local);
  auto site = Connect(root.DataRoot(), local, "Portavento");
  testsite::FillSampleSite(*site, /*withSettings=*/false);

  CentralSim sim(root);
  ServiceProcess service(root, sim.port(), local);
  ASSERT_TRUE(sim.WaitReceived("DBCN", 60s)) << ConversationLogs(sim, service);
  ASSERT_TRUE(sim.Command("datr").ok);
  ASSERT_TRUE(sim.WaitReceived("DASN", 120s)) << ConversationLogs(sim, service);

  auto home = Connect(root.DataRoot(), sim.config().instance, sim.config().homeDatabase);
  const std::string id = std::to_string(QueryInt(*home, "Select Max(id) From Installations"));
  const std::string number = std::string(5 - std::min<std::size_t>(5, id.size()), '0') + id;
  auto installation = Connect(root.DataRoot(), sim.config().instance, "Installation" + number);
  testsite::ExpectSampleSiteCopied(*site, *installation);

  // The central side edits resident 2's photo, creates a resident with an
  // e-mail address and changes resident 1's address.
  const db::Bytes photo = testsite::PatternBytes(64 * 1024, 9);
  installation->Execute("Update Names Set photo = " + testsite::BinaryLiteral(photo) +
                        ", photoDescr = N'new' Where ID = 2");
  installation->Execute(
      "Insert Into Names (ID, resType, LastName, FirstName, suite, Company, hide) "
      "Values (-1, N'R', N'Nouveau', N'Né', N'9', N'', 0)");
  home->Execute("Insert Into Emails (instId, resId, email) Values (" + id +
                ", -1, N'ne@example.com')");
  home->Execute("Update Emails Set email = N'changed@example.com' Where resId = 1");
  for (const char* row : {"2, N'PhotoU'", "0, N'NamesA'", "1, N'NamesU'"}) {
    home->Execute("Insert Into UpdateQueue (instId, recordId, tableName) Values (" + id + ", " +
                  row + ")");
  }
  const std::size_t before = sim.ReceivedCount();
  ASSERT_TRUE(sim.Command("upda").ok);

  EXPECT_TRUE(sim.WaitReceived("SDWE " + id + "§5", 60s, before)) << ConversationLogs(sim, service);
  EXPECT_TRUE(sim.WaitReceived("SDWC " + id + "§1", 60s, before)) << ConversationLogs(sim, service);
  EXPECT_TRUE(
      WaitUntil([&] { return QueryInt(*home, "Select Count(*) From UpdateQueue") == 0; }, 60s))
      << ConversationLogs(sim, service);
  EXPECT_EQ(testsite::Dump(*site, "Select photo, photoDescr From Names Where id = 2"),
            (testsite::Rows{{db::Value::Binary(photo), db::Value::Text("new")}}));
  EXPECT_EQ(QueryInt(*installation, "Select Count(*) From Names Where ID = 2 And photo Is Null"),
            1);
  EXPECT_EQ(QueryText(*site, "Select lastName From Names Where id = 5"), "Nouveau");
  EXPECT_EQ(QueryText(*site, "Select email From Emails Where resId = 5"), "ne@example.com");
  EXPECT_EQ(QueryText(*site, "Select email From Emails Where resId = 1"), "changed@example.com");
  EXPECT_EQ(QueryInt(*installation, "Select Count(*) From Names Where ID = 5"), 1);
  EXPECT_EQ(service.LogText().find("TransferDataFromCX()"), std::string::npos)
      << ConversationLogs(sim, service);

  // With the central instance stopped the order leaves its queue row behind,
  // unlogged. "CONN" is answered only after the order before it was handled.
  home->Execute("Insert Into UpdateQueue (instId, recordId, tableName) Values (" + id +
                ", 1, N'NamesR')");
  const std::string queued = std::to_string(QueryInt(*home, "Select Max(id) From UpdateQueue"));
  db::embedded::SetOnline(root.DataRoot(), sim.config().instance.server, sim.config().instance.port,
                          false);
  const std::size_t mark = sim.ReceivedCount();
  ASSERT_TRUE(sim.Command("upda " + queued + "§1§NamesR§").ok);
  ASSERT_TRUE(sim.Command("conn").ok);
  EXPECT_TRUE(sim.WaitReceived("PVID ", 30s, mark)) << ConversationLogs(sim, service);
  db::embedded::SetOnline(root.DataRoot(), sim.config().instance.server, sim.config().instance.port,
                          true);
  home = Connect(root.DataRoot(), sim.config().instance, sim.config().homeDatabase);
  EXPECT_EQ(QueryInt(*home, "Select Count(*) From UpdateQueue Where id = " + queued), 1);
  EXPECT_EQ(QueryInt(*site, "Select Count(*) From Names Where id = 1"), 1);
  EXPECT_EQ(service.LogText().find("TransferDataFromCX()"), std::string::npos)
      << ConversationLogs(sim, service);
}

// SIGTERM in the middle of a long full upload: the upload ends at its next
// row and the service exits well inside systemd's stop time-out, without
// "DASN" (the central server orders the upload again).
TEST(SyncThroughTheLink, AStopDuringALongFullUploadEndsItWithinFiveSecondsWithoutDasn) {
  TempRoot root;
  SqlInstance local;
  CreateLocalSite(root.DataRoot(), local);
  auto site = Connect(root.DataRoot(), local, "Portavento");
  site->Execute(
      "Insert Into Logs (entryId, residentId, action, data, computerName) Values "
      "(1, 1, N'Call', N'x', N'PANEL-1')");
  for (int i = 0; i < 15; ++i) {  // 32,768 rows
    site->Execute(
        "Insert Into Logs (entryId, residentId, action, data, computerName) "
        "Select entryId, residentId, action, data, computerName From Logs");
  }

  CentralSim sim(root);
  ServiceProcess service(root, sim.port(), local);
  ASSERT_TRUE(sim.WaitReceived("DBCN", 60s)) << ConversationLogs(sim, service);
  const std::size_t mark = sim.ReceivedCount();
  ASSERT_TRUE(sim.Command("datr").ok);
  std::this_thread::sleep_for(1500ms);
  ASSERT_FALSE(sim.WaitReceived("DASN", 0ms, mark)) << "the upload was too short to be stopped";

  const auto asked = std::chrono::steady_clock::now();
  service.process().Signal(SIGTERM);
  EXPECT_EQ(service.process().WaitExit(10s), 0) << ConversationLogs(sim, service);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);
  EXPECT_FALSE(sim.WaitReceived("DASN", 0ms, mark)) << ConversationLogs(sim, service);
  EXPECT_NE(service.LogText().find(sync::kStoppedText), std::string::npos)
      << ConversationLogs(sim, service);
}

}  // namespace
}  // namespace pv::e2e
