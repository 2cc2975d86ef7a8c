// The service host on a real event loop: a real central server on loopback,
// the real embedded engine under a private PVREMOTE_ROOT, intervals shortened.
#include "service/service_host.h"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "db/embedded/embedded_engine.h"
#include "platform/paths.h"
#include "settings/registry_store.h"
#include "tests/protocol/local_site.h"
#include "tests/service/test_central.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using pv::testing::RunFor;
using pv::testing::RunUntil;

namespace {

const std::string S = "\xC2\xA7";  // "§"

class ServiceHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = pv::testing::MakeTempDir("pvhost");
    paths_.emplace(pv::platform::Paths::UnderRoot(root_.string()));
    pv::settings::RegistryStore store(*paths_);
    store.SetRegValue("sqlDriver", "embedded");
    store.SetRegValue("sqlPort", "1433");
    store.SetRegValue("sqlPWD", "local pw");
    store.SetRegValue("centralHost", "127.0.0.1");
    store.SetRegValue("centralPort", central_.port());
  }
  void TearDown() override {
    host_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  fs::path SqlRoot() const { return root_ / "var/lib/pvremote/sql"; }

  pv::testing::LocalSite& MakeSite() {
    site_.emplace(SqlRoot(), "1433", "local pw", true);
    return *site_;
  }

  pv::service::ServiceHost& MakeHost() {
    pv::service::HostIntervals intervals;
    intervals.startLoad = 50ms;
    intervals.sqlConnection = 150ms;
    intervals.socket = 150ms;
    intervals.updateQueue = 30ms;
    host_ = std::make_unique<pv::service::ServiceHost>(io_, *paths_, intervals);
    return *host_;
  }

  // Every log line written so far (all daily files), without time stamps.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    const fs::path folder = root_ / "var/lib/pvremote/Portavento";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
      if (entry.path().filename().string().rfind("Log ", 0) != 0) continue;
      std::ifstream in(entry.path());
      for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "mmddyy hh:mm:ss AM " is followed by the message.
        const auto at = line.find("M ");
        lines.push_back(at == std::string::npos ? line : line.substr(at + 2));
      }
    }
    return lines;
  }
  int CountLog(const std::string& prefix) const {
    int n = 0;
    for (const auto& l : LogLines()) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }

  // Greets and waits for the identification.
  std::string Identify() {
    const std::size_t before = central_.notices().size();
    central_.Reply("CONN");
    if (!RunUntil(io_, [&] { return central_.notices().size() > before; })) return "<none>";
    return central_.notices().back();
  }

  asio::io_context io_;
  pv::testing::TestCentral central_{io_};
  fs::path root_;
  std::optional<pv::platform::Paths> paths_;
  std::optional<pv::testing::LocalSite> site_;
  std::unique_ptr<pv::service::ServiceHost> host_;
};

}  // namespace

// The installation key (a fresh one while none is stored, the stored one
// with "PVID") is checked on the dispatcher with a real local database and
// between the real programs in tests/e2e.
TEST_F(ServiceHostTest, DbinIsAnsweredWithDbcnExactlyWhenTheCentralLoginWorks) {
  MakeSite();
  pv::db::embedded::CreateInstance(SqlRoot(), "127.0.0.1", "14330");
  pv::db::embedded::SetLogin(SqlRoot(), "127.0.0.1", "14330", "pvcx", "pw;{1}");
  pv::db::embedded::SetLogin(SqlRoot(), "127.0.0.1", "14330", "open", "");
  {
    auto c = pv::db::embedded::MakeEmbeddedConnection(SqlRoot());
    c->Open({"127.0.0.1", "14330", "pvcx", "pw;{1}", ""});
    c->Execute("Create Database PVHome;");
  }
  auto& host = MakeHost();
  host.StartRemote();
  ASSERT_TRUE(RunUntil(io_, [&] { return central_.open(); }));

  // "RPID" after the order: its answer marks the end of what the order sent.
  auto dbin = [&](const std::string& arg) {
    central_.ClearReceived();
    central_.Reply("DBIN " + arg);
    central_.Reply("RPID");
    RunUntil(io_, [&] {
      const auto n = central_.notices();
      return !n.empty() && n.back().rfind("NWID ", 0) == 0;
    });
    auto n = central_.notices();
    if (!n.empty()) n.pop_back();
    return n;
  };
  const std::vector<std::string> dbcn = {"DBCN"};
  const std::vector<std::string> none;
  EXPECT_EQ(dbin("pvcx" + S + "pw;{1}" + S + "127.0.0.1" + S + "PVHome" + S + "14330" + S), dbcn);
  EXPECT_EQ(host.centralSettings().password, "pw;{1}");
  EXPECT_FALSE(host.Central().IsOpen());
  EXPECT_EQ(dbin("pvcx" + S + "wrong" + S + "127.0.0.1" + S + "PVHome" + S + "14330" + S), none);
  EXPECT_EQ(dbin("pvcx" + S + "pw;{1}" + S + "127.0.0.1" + S + "Nope" + S + "14330" + S), none);
  EXPECT_EQ(dbin("pvcx" + S + "pw;{1}" + S + "127.0.0.1" + S + "PVHome" + S + "14331" + S), none);
  // Five pieces: stored as far as they go, nothing tried, nothing sent.
  EXPECT_EQ(dbin("open" + S + "" + S + "127.0.0.1" + S + "PVHome" + S + "14330"), none);
  EXPECT_EQ(host.centralSettings().userId, "open");
  // Seven pieces; an empty password.
  EXPECT_EQ(
      dbin("open" + S + "" + S + "127.0.0.1" + S + "PVHome" + S + "14330" + S + "6" + S + "7"),
      dbcn);
  // The stored data serve a later job.
  ASSERT_TRUE(host.OpenCentral());
  EXPECT_EQ(host.Central().get()->CurrentDatabase(), "PVHome");
  host.Central().CloseCentralConnection();
}

TEST_F(ServiceHostTest, LocalDatabaseOfflineAtStartKeepsTheLinkOffUntilAGoodTick) {
  MakeSite();
  site_->SetOnline(false);
  auto& host = MakeHost();
  host.StartRemote();
  EXPECT_EQ(CountLog("Remote Started"), 1);
  EXPECT_EQ(CountLog("Open_cn - 17 - "), 1);
  EXPECT_TRUE(host.tmrSQLConnection().enabled());
  RunFor(io_, 100ms);
  EXPECT_EQ(central_.connections(), 0);

  site_->SetOnline(true);
  ASSERT_TRUE(RunUntil(io_, [&] { return central_.open(); }));
  EXPECT_EQ(Identify().substr(0, 5), "NWID ");
}

TEST_F(ServiceHostTest, LocalDatabaseLostWhileRunningSwitchesTheLinkOffAndBack) {
  MakeSite();
  auto& host = MakeHost();
  host.StartRemote();
  ASSERT_TRUE(RunUntil(io_, [&] { return central_.open(); }));
  central_.Reply("VDID 5");
  ASSERT_TRUE(RunUntil(io_, [&] { return host.tmrUpdateQueue().enabled(); }));

  site_->SetOnline(false);
  ASSERT_TRUE(RunUntil(io_, [&] { return !central_.open(); }));
  EXPECT_FALSE(host.socketTimer().enabled());
  EXPECT_FALSE(host.tmrUpdateQueue().enabled());
  ASSERT_TRUE(RunUntil(io_, [&] { return CountLog("Open_cn") >= 2; }));  // every tick retries
  EXPECT_EQ(central_.connections(), 1);

  site_->SetOnline(true);
  ASSERT_TRUE(RunUntil(io_, [&] { return central_.connections() == 2 && central_.open(); }));
  EXPECT_TRUE(host.socketTimer().enabled());
  EXPECT_NE(host.local().open(), nullptr);
}

TEST_F(ServiceHostTest, WrongLocalPasswordLogsOpenCnEveryTick) {
  MakeSite();
  pv::settings::RegistryStore(*paths_).SetRegValue("sqlPWD", "not the password");
  auto& host = MakeHost();
  host.StartRemote();
  EXPECT_EQ(CountLog("Remote Started"), 1);
  ASSERT_TRUE(RunUntil(io_, [&] { return CountLog("Open_cn - 18456 - ") >= 3; }));
  EXPECT_EQ(central_.connections(), 0);
  EXPECT_EQ(host.local().open(), nullptr);

  // The encoded password wins over the plain one.
  pv::settings::RegistryStore(*paths_).SetRegValue("sqlPWDq", "108111099097108032112119");
  ASSERT_TRUE(RunUntil(io_, [&] { return central_.open(); }));
}

TEST_F(ServiceHostTest, ShutdownRunsEveryStepOnce) {
  MakeSite();
  auto& host = MakeHost();
  host.StartRemote();
  ASSERT_TRUE(RunUntil(io_, [&] { return central_.open(); }));
  central_.Reply("VDID 3");
  ASSERT_TRUE(RunUntil(io_, [&] { return host.tmrUpdateQueue().enabled(); }));

  host.ShutdownRemote();
  EXPECT_FALSE(host.socketTimer().enabled());
  EXPECT_FALSE(host.tmrUpdateQueue().enabled());
  EXPECT_FALSE(host.tmrSQLConnection().enabled());
  EXPECT_EQ(host.local().get(), nullptr);
  EXPECT_EQ(CountLog("Remote Shutdown"), 1);
  ASSERT_TRUE(RunUntil(io_, [&] { return !central_.open(); }));
  RunFor(io_, 400ms);  // no timer brings anything back
  EXPECT_EQ(central_.connections(), 1);
  EXPECT_EQ(CountLog("Open_cn"), 0);

  // A second shutdown is harmless and logs again.
  host.ShutdownRemote();
  EXPECT_EQ(CountLog("Remote Shutdown"), 2);
}

TEST_F(ServiceHostTest, ServiceStartRunsTheStartRoutineOnceAfterTheDelay) {
  MakeSite();
  auto& host = MakeHost();
  host.ServiceStarted();
  EXPECT_TRUE(host.runningAsNTService);
  EXPECT_TRUE(host.startLoadTimer().enabled());
  EXPECT_EQ(CountLog("Remote Started"), 0);
  ASSERT_TRUE(RunUntil(io_, [&] { return central_.open(); }));
  RunFor(io_, 200ms);
  EXPECT_FALSE(host.startLoadTimer().enabled());
  EXPECT_EQ(CountLog("Remote Started"), 1);
  // Written with the system's own separator ('\\' on Windows).
  const std::string sep = fs::path("/").make_preferred().string();
  EXPECT_EQ(pv::settings::RegistryStore(*paths_).GetRegValue("appFolder"),
            paths_->LocalAppDataFolder() + "Portavento" + sep);
  EXPECT_TRUE(fs::is_directory(root_ / "var/lib/pvremote/Portavento/photos"));
}
