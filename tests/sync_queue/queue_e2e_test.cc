// The update queue inside the real pvremote (a debug run with shortened
// intervals) talking to the real pvcentral, both databases on the embedded
// engine: rows queued locally the way the entry-control system queues them
// reach the central side, in id order, only while the installation is
// confirmed.
#include <gtest/gtest.h>

#include <csignal>

#include "db/embedded/embedded_engine.h"
#include "service/test_intervals.h"
#include "tests/e2e/central_sim.h"
#include "tests/e2e/service_process.h"
#include "tests/e2e/sql_site.h"
#include "tests/e2e/temp_root.h"
#include "tests/support/site.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace pv::e2e {
namespace {

using namespace std::chrono_literals;
using testsite::Dump;
using testsite::ResidentInsert;

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
  std::string Diagnostics() const { return ConversationLogs(*sim_, *service_); }

  void Queue(const std::string& kind, const std::string& resId) {
    localDb_->Execute("Insert Into UpdateQueue (tableName, resId, recordId) Values (N'" + kind +
                      "', " + resId + ", 0)");
  }
  std::int64_t QueueLength() { return QueryInt(*localDb_, "Select Count(*) From UpdateQueue"); }
  bool WaitQueueEmpty(std::chrono::milliseconds timeout = 60s) {
    return WaitUntil([&] { return QueueLength() == 0; }, timeout, 50ms);
  }
  // 1.5 s on (the drain ticks every 200 ms): `n` rows and no notice since `from`.
  bool HeldBack(std::int64_t n, std::size_t from) {
    std::this_thread::sleep_for(1500ms);
    return QueueLength() == n && ReceivedWith("SDW", from).empty();
  }
  std::unique_ptr<db::Connection> Central(const std::string& database = kDefaultHomeDatabase) {
    return Connect(root_.DataRoot(), DefaultCentralInstance(), database);
  }
  void SetCentralOnline(bool online) {
    db::embedded::SetOnline(root_.DataRoot(), "localhost", DefaultCentralInstance().port, online);
  }
  // Orders a full upload and waits for its end.
  void FullUpload() {
    const std::size_t from = sim_->ReceivedCount();
    ASSERT_TRUE(sim_->Command("datr").ok);
    ASSERT_TRUE(sim_->WaitReceived("DASN", 60s, from)) << Diagnostics();
  }
  std::string FailedChanges() const {
    return testing::ReadFile(root_.ServiceFolder() / "FailedChanges.txt");
  }
  // The received messages starting with `prefix`, from index `from` on.
  std::vector<std::string> ReceivedWith(const std::string& prefix, std::size_t from = 0) {
    std::vector<std::string> out;
    const auto all = sim_->Received();
    for (std::size_t i = from; i < all.size(); ++i)
      if (all[i].starts_with(prefix)) out.push_back(all[i]);
    return out;
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

TEST(UpdateQueueService, RowsGoInIdOrderWhileConfirmedAndReachableAndBadRowsAreDropped) {
  QueueSite site(/*autoVdid=*/false);
  ASSERT_TRUE(site.sim().WaitReceived("DBCN", 60s)) << site.Diagnostics();
  // Stored out of id order, before the installation is confirmed.
  site.local().Execute(
      "Set Identity_Insert UpdateQueue On;"
      "Insert Into UpdateQueue (id, tableName, resId, recordId) Values (5, N'Welcome', 5, 0), "
      "(2, N'Welcome', 2, 0), (9, N'WelcomeC', 9, 0), (1, N'Welcome', 1, 0);"
      "Set Identity_Insert UpdateQueue Off;");
  EXPECT_TRUE(site.HeldBack(4, 0)) << site.Diagnostics();
  ASSERT_TRUE(site.sim().Command("vdid").ok);
  ASSERT_TRUE(site.WaitQueueEmpty()) << site.Diagnostics();
  EXPECT_EQ(site.ReceivedWith("SDW"),
            (std::vector<std::string>{Welcome("1"), Welcome("2"), Welcome("5"),
                                      "SDWC 1" + std::string(kSection) + "9"}));

  // A disconnect stops the queue until the next confirmation.
  std::size_t from = site.sim().ReceivedCount();
  ASSERT_TRUE(site.sim().Command("drop").ok);
  ASSERT_TRUE(site.sim().WaitReceived("PVID ", 30s, from)) << site.Diagnostics();
  site.Queue("Welcome", "20");
  EXPECT_TRUE(site.HeldBack(1, from)) << site.Diagnostics();
  ASSERT_TRUE(site.sim().Command("vdid").ok);
  ASSERT_TRUE(site.WaitQueueEmpty()) << site.Diagnostics();
  EXPECT_EQ(site.ReceivedWith("SDW", from), std::vector<std::string>{Welcome("20")});

  // An unreachable central database keeps every row, unlogged, for a later tick.
  from = site.sim().ReceivedCount();
  site.SetCentralOnline(false);
  for (const char* r : {"21", "22", "23"}) site.Queue("Welcome", r);
  EXPECT_TRUE(site.HeldBack(3, from)) << site.Diagnostics();
  site.SetCentralOnline(true);
  ASSERT_TRUE(site.WaitQueueEmpty()) << site.Diagnostics();
  EXPECT_EQ(site.ReceivedWith("SDW", from),
            (std::vector<std::string>{Welcome("21"), Welcome("22"), Welcome("23")}));
  EXPECT_EQ(site.service().LogText().find("TransferResDataToCX()"), std::string::npos);
  EXPECT_EQ(site.FailedChanges(), "");

  // A failing change (there is no installation database yet) and a row
  // without a resident are logged, dropped and recorded; the rows behind them
  // go on.
  from = site.sim().ReceivedCount();
  site.Queue("PhotoR", "1");
  site.Queue("Welcome", "Null");
  site.Queue("Welcome", "24");
  ASSERT_TRUE(site.WaitQueueEmpty()) << site.Diagnostics();
  EXPECT_TRUE(site.sim().WaitReceived(Welcome("24"), 10s, from)) << site.Diagnostics();
  const std::string log = site.service().LogText();
  EXPECT_NE(log.find("TransferResDataToCX()"), std::string::npos) << log;
  EXPECT_NE(log.find("resId Null"), std::string::npos) << log;
  const std::string failed = site.FailedChanges();
  EXPECT_NE(failed.find("\tPhotoR\t1\t0\t"), std::string::npos) << failed;
  EXPECT_NE(failed.find("\tWelcome\tNull\t0\t13\t"), std::string::npos) << failed;
}

TEST(UpdateQueueService, DatrDuringALongDrainIsHandledBetweenTwoRows) {
  QueueSite site;
  site.local().Execute(ResidentInsert());
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

TEST(UpdateQueueService, KilledMidDrainTheRestartedServiceBringsBothSidesInStep) {
  QueueSite site;
  constexpr int kResidents = 10;
  std::string fill;
  for (int r = 1; r <= kResidents; ++r) {
    fill += ResidentInsert() + "Insert Into Emails (resId, email) Values (" + std::to_string(r) +
            ", N'start');";
  }
  fill += "Insert Into Entries (entryId, entryName) Values (1, N'Door');";
  site.local().Execute(fill);
  ASSERT_TRUE(site.sim().WaitReceived("DBCN", 60s)) << site.Diagnostics();
  site.FullUpload();

  // 1,000 changes of the kinds that rewrite the central rows from the local
  // ones, each made locally and queued, as one batch: per kind the local
  // change, '#' standing for the change's number and '@' for its resident.
  const std::pair<const char*, const char*> kinds[] = {
      {"NamesU", "Update Names Set lastName = N'L#' Where id = @;"},
      {"Notification",
       "Delete From Notification Where resId = @;"
       "Insert Into Notification (resId, email) Values (@, N'e#');"},
      {"Entries", "Update Entries Set entryName = N'E#' Where entryId = 1;"},
      {"Emails", "Update Emails Set email = N'm#' Where resId = @;"},
      {"NotificationF",
       "Delete From NotificationF Where resId = @;"
       "Insert Into NotificationF (resId, email) Values (@, N'f#');"},
      {"Settings", "Update Settings Set name = N'S#';"}};
  constexpr int kChanges = 1000;
  std::string batch;
  for (int i = 0; i < kChanges; ++i) {
    const std::string r = std::to_string(1 + i % kResidents);
    const auto& [kind, change] = kinds[i % 6];
    std::string sql = change;
    for (std::size_t at; (at = sql.find_first_of("#@")) != std::string::npos;)
      sql.replace(at, 1, sql[at] == '#' ? std::to_string(i) : r);
    batch += sql + "Insert Into UpdateQueue (tableName, resId, recordId) Values (N'" + kind +
             "', " + r + ", 0);";
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
  for (const char* q :
       {"Select id, lastName From Names Order By id", "Select entryName From Entries",
        "Select resId, email From Notification Order By resId, email",
        "Select resId, email From NotificationF Order By resId, email"})
    EXPECT_EQ(Dump(*inst, q), Dump(local, q)) << q;
  EXPECT_EQ(Dump(*home, "Select resId, email From Emails Where instId = 1 Order By resId"),
            Dump(local, "Select resId, email From Emails Order By resId"));
  EXPECT_EQ(Dump(*home, "Select locName From Installations Where id = 1"),
            Dump(local, "Select name From Settings"));
}

}  // namespace
}  // namespace pv::e2e
