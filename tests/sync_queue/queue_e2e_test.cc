// The update queue inside the real pvremote (a debug run with shortened
// intervals) talking to the real pvcentral, both databases on the embedded
// engine: rows queued locally the way the entry-control system queues them
// reach the central side, in id order, only while the installation is
// confirmed.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <set>
#include <sstream>

#include "db/embedded/embedded_engine.h"
#include "service/test_intervals.h"
#include "tests/e2e/central_sim.h"
#include "tests/e2e/programs.h"
#include "tests/e2e/service_process.h"
#include "tests/e2e/sql_site.h"
#include "tests/e2e/temp_root.h"
#include "tests/support/wait.h"

namespace pv::e2e {
namespace {

using namespace std::chrono_literals;

// startLoad, sqlConnection, socket, updateQueue in ms.
constexpr char kIntervals[] = "100,5000,1000,200";
constexpr char kSection[] = "\xC2\xA7";

// A site whose service runs against the simulator; the installation is
// confirmed by the simulator itself unless `autoVdid` is false.
class QueueSite {
 public:
  explicit QueueSite(bool autoVdid = true) : sim_(MakeSim(root_, autoVdid)) {
    StartService();
    localDb_ = Connect(root_.DataRoot(), local_, "Portavento");
  }

  void StartService() {
    service_ = std::make_unique<ServiceProcess>(
        root_, sim_->port(), ServiceConfig{local_, {}, {{"PVREMOTE_TEST_INTERVALS", kIntervals}}});
  }

  CentralSim& sim() { return *sim_; }
  ServiceProcess& service() { return *service_; }
  db::Connection& local() { return *localDb_; }
  const TempRoot& root() const { return root_; }

  std::string Diagnostics() const {
    return "\n--- pvcentral log ---\n" + sim_->LogText() + "--- pvremote log ---\n" +
           service_->LogText() + "--- pvremote output ---\n" + service_->Output();
  }

  void Queue(const std::string& kind, const std::string& resId, const std::string& recordId = "0") {
    localDb_->Execute("Insert Into UpdateQueue (tableName, resId, recordId) Values (N'" + kind +
                      "', " + resId + ", " + recordId + ")");
  }
  std::int64_t QueueLength() { return QueryInt(*localDb_, "Select Count(*) From UpdateQueue"); }
  bool WaitQueueEmpty(std::chrono::milliseconds timeout = 60s) {
    return WaitUntil([&] { return QueueLength() == 0; }, timeout, 50ms);
  }
  // The installation id the simulator gave (its first Installations row).
  std::string InstallationId() { return "1"; }
  std::unique_ptr<db::Connection> Central(const std::string& database = kDefaultHomeDatabase) {
    return Connect(root_.DataRoot(), DefaultCentralInstance(), database);
  }
  // Orders a full upload and waits for its end.
  void FullUpload() {
    const std::size_t from = sim_->ReceivedCount();
    ASSERT_TRUE(sim_->Command("datr").ok);
    ASSERT_TRUE(sim_->WaitReceived("DASN", 60s, from)) << Diagnostics();
  }
  // The received messages starting with `prefix`, from index `from` on.
  std::vector<std::string> ReceivedWith(const std::string& prefix, std::size_t from = 0) {
    std::vector<std::string> out;
    const auto all = sim_->Received();
    for (std::size_t i = from; i < all.size(); ++i)
      if (all[i].rfind(prefix, 0) == 0) out.push_back(all[i]);
    return out;
  }
  std::string FailedChanges() const {
    std::ifstream in(root_.ServiceFolder() / "FailedChanges.txt");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  static std::unique_ptr<CentralSim> MakeSim(const TempRoot& root, bool autoVdid) {
    CreateLocalSite(root.DataRoot(), SqlInstance{});
    return std::make_unique<CentralSim>(
        root, autoVdid ? CentralSimConfig{} : CentralSimConfig::WithArgs({"--no-auto-vdid"}));
  }

  TempRoot root_;
  SqlInstance local_;
  std::unique_ptr<CentralSim> sim_;
  std::unique_ptr<ServiceProcess> service_;
  std::unique_ptr<db::Connection> localDb_;
};

#define REQUIRE_PVREMOTE()                                                  \
  if (PvremoteProgram().empty()) {                                          \
    GTEST_SKIP() << "pvremote is not built in this tree, so the service's " \
                    "update queue cannot be checked end to end";            \
  }

std::string Welcome(const std::string& resId) { return "SDWE 1" + std::string(kSection) + resId; }

TEST(TestIntervals, FourMillisecondFieldsOverTheDefaultsOrNothing) {
  const auto all = service::ParseTestIntervals("100,5000,1000,200");
  ASSERT_TRUE(all);
  EXPECT_EQ(all->startLoad, 100ms);
  EXPECT_EQ(all->updateQueue, 200ms);
  const auto one = service::ParseTestIntervals(",,,250");
  ASSERT_TRUE(one);
  EXPECT_EQ(one->sqlConnection, service::HostIntervals{}.sqlConnection);
  EXPECT_EQ(one->updateQueue, 250ms);
  for (const char* bad : {"", "1,2,3", "1,2,3,4,5", "1,2,x,4", "1,2,0,4", "1,2,-3,4", "1,2,3 ,4"})
    EXPECT_FALSE(service::ParseTestIntervals(bad)) << bad;
}

TEST(UpdateQueueService, RowsWaitForVdidAndGoInIdOrderAfterEachConfirmation) {
  REQUIRE_PVREMOTE();
  QueueSite site(/*autoVdid=*/false);
  ASSERT_TRUE(site.sim().WaitReceived("DBCN", 60s)) << site.Diagnostics();
  // Stored out of id order.
  site.local().Execute(
      "Set Identity_Insert UpdateQueue On;"
      "Insert Into UpdateQueue (id, tableName, resId, recordId) Values (5, N'Welcome', 5, 0);"
      "Insert Into UpdateQueue (id, tableName, resId, recordId) Values (2, N'Welcome', 2, 0);"
      "Insert Into UpdateQueue (id, tableName, resId, recordId) Values (9, N'WelcomeC', 9, 0);"
      "Insert Into UpdateQueue (id, tableName, resId, recordId) Values (1, N'Welcome', 1, 0);"
      "Set Identity_Insert UpdateQueue Off;");
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(site.QueueLength(), 4);
  EXPECT_TRUE(site.ReceivedWith("SDW").empty()) << site.Diagnostics();

  ASSERT_TRUE(site.sim().Command("vdid").ok);
  ASSERT_TRUE(site.WaitQueueEmpty()) << site.Diagnostics();
  EXPECT_EQ(site.ReceivedWith("SDW"),
            (std::vector<std::string>{Welcome("1"), Welcome("2"), Welcome("5"),
                                      "SDWC 1" + std::string(kSection) + "9"}));

  // A disconnect stops the queue until the next confirmation.
  const std::size_t before = site.sim().ReceivedCount();
  ASSERT_TRUE(site.sim().Command("drop").ok);
  ASSERT_TRUE(site.sim().WaitReceived("PVID ", 30s, before)) << site.Diagnostics();
  site.Queue("Welcome", "20");
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(site.QueueLength(), 1);
  EXPECT_TRUE(site.ReceivedWith("SDW", before).empty()) << site.Diagnostics();
  ASSERT_TRUE(site.sim().Command("vdid").ok);
  ASSERT_TRUE(site.WaitQueueEmpty()) << site.Diagnostics();
  EXPECT_EQ(site.ReceivedWith("SDW", before), std::vector<std::string>{Welcome("20")});
}

TEST(UpdateQueueService, ChangesReachTheCentralDatabasesAndTheServer) {
  REQUIRE_PVREMOTE();
  QueueSite site;
  site.local().Execute(
      "Insert Into Names (resType, lastName, firstName, suite, company, button1Type, "
      "button2Type, button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, "
      "button2Comm, phone3, button3Loc, button3Comm, hide, hideBut1, hideBut2, hideBut3) Values "
      "(N'R', N'Old', N'Name', N'1', N'', N'P', N'P', N'P', N'', N'', N'', N'', N'', N'', N'', "
      "N'', N'', 0, 0, 0, 0)");
  ASSERT_TRUE(site.sim().WaitReceived("DBCN", 60s)) << site.Diagnostics();
  site.FullUpload();
  const std::size_t from = site.sim().ReceivedCount();

  std::string photo(70000, '\0');
  for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<char>((i * 7919) >> 3);
  std::string hex = "0x";
  for (unsigned char c : photo) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  site.local().Execute("Update Names Set lastName = N'O''Hara', photo = " + hex + " Where id = 1");
  site.local().Execute(
      "Insert Into Packages (nameId, packageType, packageDate) Values (1, 1, "
      "'2026-06-01T09:30:00')");
  site.Queue("NamesU", "1");
  site.Queue("PhotoA", "1");
  site.Queue("PackagesA", "0", "1");
  site.Queue("Welcome", "1");
  ASSERT_TRUE(site.WaitQueueEmpty()) << site.Diagnostics();

  auto home = site.Central();
  auto inst = site.Central("Installation00001");
  EXPECT_EQ(QueryText(*inst, "Select lastName From Names Where id = 1"), "O'Hara");
  {
    auto rows = inst->Query("Select photo From Names Where id = 1");
    ASSERT_TRUE(rows->Next());
    const db::Bytes& got = rows->Get(0).AsBinary();
    EXPECT_EQ(std::string(got.begin(), got.end()), photo);
  }
  EXPECT_EQ(QueryInt(*inst, "Select Count(*) From Packages Where id = 1 And nameId = 1"), 1);
  EXPECT_EQ(QueryText(*home, "Select alertType From ClientQueue Where instId = 1 And resId = 1"),
            "Package");
  EXPECT_TRUE(site.sim().WaitReceived("UDPH", 10s, from)) << site.Diagnostics();
  EXPECT_TRUE(site.sim().WaitReceived(Welcome("1"), 10s, from)) << site.Diagnostics();

  // A failing change is logged, dropped and recorded; a kind in the wrong
  // case and an unknown kind leave the queue and write nothing; a row with a
  // Null resId is logged and removed and the rows behind it go on.
  site.local().Execute("Update Names Set lastName = Null Where id = 1");
  site.Queue("NamesU", "1");
  site.Queue("namesu", "1");
  site.Queue("NoSuchKind", "1");
  site.Queue("Welcome", "Null");
  site.Queue("Welcome", "2");
  ASSERT_TRUE(site.WaitQueueEmpty()) << site.Diagnostics();
  EXPECT_TRUE(site.sim().WaitReceived(Welcome("2"), 10s, from)) << site.Diagnostics();
  EXPECT_EQ(QueryText(*inst, "Select lastName From Names Where id = 1"), "O'Hara");
  const std::string log = site.service().LogText();
  EXPECT_NE(log.find("TransferResDataToCX()"), std::string::npos) << log;
  EXPECT_NE(log.find("resId Null"), std::string::npos) << log;
  const std::string failed = site.FailedChanges();
  for (const char* kind : {"\tNamesU\t1\t0\t94\t", "\tnamesu\t1\t0\t0\t", "\tNoSuchKind\t1\t0\t0\t",
                           "\tWelcome\tNull\t0\t13\t"}) {
    EXPECT_NE(failed.find(kind), std::string::npos) << kind << "\n" << failed;
  }
}

TEST(UpdateQueueService, CentralOfflineKeepsEveryRowUntilALaterTick) {
  REQUIRE_PVREMOTE();
  QueueSite site;
  ASSERT_TRUE(site.sim().WaitReceived("DBCN", 60s)) << site.Diagnostics();
  const std::size_t from = site.sim().ReceivedCount();
  db::embedded::SetOnline(site.root().DataRoot(), "localhost", DefaultCentralInstance().port,
                          false);
  for (const char* r : {"1", "2", "3"}) site.Queue("Welcome", r);
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(site.QueueLength(), 3);
  EXPECT_TRUE(site.ReceivedWith("SDW", from).empty());
  db::embedded::SetOnline(site.root().DataRoot(), "localhost", DefaultCentralInstance().port, true);
  ASSERT_TRUE(site.WaitQueueEmpty()) << site.Diagnostics();
  EXPECT_EQ(site.ReceivedWith("SDW", from),
            (std::vector<std::string>{Welcome("1"), Welcome("2"), Welcome("3")}));
  EXPECT_EQ(site.service().LogText().find("TransferResDataToCX()"), std::string::npos);
}

TEST(UpdateQueueService, DatrDuringALongDrainIsHandledBetweenTwoRows) {
  REQUIRE_PVREMOTE();
  QueueSite site;
  site.local().Execute(
      "Insert Into Names (resType, lastName, firstName, suite, company, button1Type, "
      "button2Type, button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, "
      "button2Comm, phone3, button3Loc, button3Comm, hide, hideBut1, hideBut2, hideBut3) Values "
      "(N'R', N'Long', N'Drain', N'1', N'', N'P', N'P', N'P', N'', N'', N'', N'', N'', N'', N'', "
      "N'', N'', 0, 0, 0, 0)");
  ASSERT_TRUE(site.sim().WaitReceived("DBCN", 60s)) << site.Diagnostics();
  site.FullUpload();
  // Every other row a welcome for a different resident: the notices show the
  // order the rows were worked in, and that none was worked twice although
  // the timer ticks many times during the drain.
  constexpr int kRows = 3000;
  const std::size_t start = site.sim().ReceivedCount();
  std::string batch;
  std::vector<std::string> welcomes;
  for (int i = 0; i < kRows; ++i) {
    const bool welcome = i % 2 == 1;
    batch += std::string("Insert Into UpdateQueue (tableName, resId, recordId) Values (N'") +
             (welcome ? "Welcome" : "NamesU") + "', " + (welcome ? std::to_string(i) : "1") +
             ", 0);";
    if (welcome) welcomes.push_back(Welcome(std::to_string(i)));
  }
  site.local().Execute(batch);
  ASSERT_TRUE(WaitUntil([&] { return site.QueueLength() < kRows; }, 30s)) << site.Diagnostics();

  const std::size_t from = site.sim().ReceivedCount();
  ASSERT_TRUE(site.sim().Command("datr").ok);
  const auto dasn = site.sim().WaitReceived("DASN", 60s, from);
  ASSERT_TRUE(dasn) << site.Diagnostics();
  ASSERT_TRUE(site.WaitQueueEmpty(120s)) << site.Diagnostics();
  ASSERT_TRUE(site.sim().WaitReceived(welcomes.back(), 10s, start)) << site.Diagnostics();
  EXPECT_EQ(site.ReceivedWith("SDWE", start), welcomes);
  const std::size_t before =
      site.ReceivedWith("SDWE", start).size() - site.ReceivedWith("SDWE", *dasn).size();
  EXPECT_GT(before, 0u) << "the full upload ran before the drain started";
  EXPECT_LT(before, welcomes.size()) << "the drain ended before the full upload was handled";
  EXPECT_EQ(site.service().LogText().find("TransferResDataToCX()"), std::string::npos);
}

// The rows of a query as text, one string per row.
std::multiset<std::string> Rows(db::Connection& c, const std::string& sql) {
  std::multiset<std::string> out;
  auto rows = c.Query(sql);
  while (rows->Next()) {
    std::string line;
    for (int i = 0; i < rows->ColumnCount(); ++i) line += rows->Get(i).ToText() + "|";
    out.insert(line);
  }
  rows->Close();
  return out;
}

TEST(UpdateQueueService, KilledMidDrainTheRestartedServiceBringsBothSidesInStep) {
  REQUIRE_PVREMOTE();
  QueueSite site;
  constexpr int kResidents = 10;
  std::string fill;
  for (int r = 1; r <= kResidents; ++r) {
    fill +=
        "Insert Into Names (resType, lastName, firstName, suite, company, button1Type, "
        "button2Type, button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, "
        "button2Comm, phone3, button3Loc, button3Comm, hide, hideBut1, hideBut2, hideBut3) "
        "Values (N'R', N'N', N'F', N'1', N'', N'P', N'P', N'P', N'', N'', N'', N'', N'', N'', "
        "N'', N'', N'', 0, 0, 0, 0);"
        "Insert Into Emails (resId, email) Values (" +
        std::to_string(r) + ", N'start');";
  }
  fill += "Insert Into Entries (entryId, entryName) Values (1, N'Door');";
  site.local().Execute(fill);
  ASSERT_TRUE(site.sim().WaitReceived("DBCN", 60s)) << site.Diagnostics();
  site.FullUpload();

  // 1,000 changes of the kinds that rewrite the central rows from the local
  // ones, each made locally and queued, as one batch.
  constexpr int kChanges = 1000;
  std::string batch;
  for (int i = 0; i < kChanges; ++i) {
    const std::string r = std::to_string(1 + i % kResidents);
    const std::string n = std::to_string(i);
    auto queue = [&](const char* kind) {
      batch += std::string("Insert Into UpdateQueue (tableName, resId, recordId) Values (N'") +
               kind + "', " + r + ", 0);";
    };
    switch (i % 6) {
      case 0:
        batch += "Update Names Set lastName = N'L" + n + "' Where id = " + r + ";";
        queue("NamesU");
        break;
      case 1:
      case 4: {
        const char* table = i % 6 == 1 ? "Notification" : "NotificationF";
        batch += std::string("Delete From ") + table + " Where resId = " + r + ";Insert Into " +
                 table + " (resId, email) Values (" + r + ", N'e" + n + "');";
        queue(table);
        break;
      }
      case 2:
        batch += "Update Entries Set entryName = N'E" + n + "' Where entryId = 1;";
        queue("Entries");
        break;
      case 3:
        batch += "Update Emails Set email = N'm" + n + "' Where resId = " + r + ";";
        queue("Emails");
        break;
      case 5:
        batch += "Update Settings Set name = N'S" + n + "';";
        queue("Settings");
        break;
    }
  }
  site.local().Execute(batch);
  ASSERT_TRUE(WaitUntil([&] { return site.QueueLength() < kChanges - 100; }, 60s, 5ms))
      << site.Diagnostics();
  site.service().process().Signal(SIGKILL);
  ASSERT_TRUE(site.service().process().WaitExit(10s));
  EXPECT_GT(site.QueueLength(), 0) << "the drain ended before the kill";

  site.StartService();
  ASSERT_TRUE(site.WaitQueueEmpty(180s)) << site.Diagnostics();

  auto home = site.Central();
  auto inst = site.Central("Installation00001");
  db::Connection& local = site.local();
  EXPECT_EQ(Rows(*inst, "Select id, lastName From Names"),
            Rows(local, "Select id, lastName From Names"));
  for (const char* t : {"Notification", "NotificationF"}) {
    EXPECT_EQ(Rows(*inst, std::string("Select resId, email From ") + t),
              Rows(local, std::string("Select resId, email From ") + t))
        << t;
  }
  EXPECT_EQ(Rows(*inst, "Select entryId, entryName From Entries"),
            Rows(local, "Select entryId, entryName From Entries"));
  EXPECT_EQ(Rows(*home, "Select resId, email From Emails Where instId = 1"),
            Rows(local, "Select resId, email From Emails"));
  EXPECT_EQ(Rows(*home, "Select locName From Installations Where id = 1"),
            Rows(local, "Select name From Settings"));
}

}  // namespace
}  // namespace pv::e2e
