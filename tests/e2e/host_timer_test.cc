// The service host object on a real event loop, with shortened intervals,
// against the real pvcentral: the update-queue timer runs exactly while the
// current connection has been confirmed with "VDID".
#include <gtest/gtest.h>

#include <atomic>

#include "tests/e2e/central_sim.h"
#include "tests/e2e/host_on_loop.h"
#include "tests/e2e/sql_site.h"
#include "tests/e2e/temp_root.h"
#include "tests/support/wait.h"

namespace pv::e2e {
namespace {

using namespace std::chrono_literals;

TEST(ServiceHostWithPvcentral, VdidStartsTheQueueTimerAndEveryDisconnectStopsIt) {
  TempRoot root;
  SqlInstance local;
  CreateLocalSite(root.DataRoot(), local);
  CentralSim sim(root, CentralSimConfig::WithArgs({"--no-auto-vdid"}));
  WriteSettings(root.MachineStore(), {{"sqlDriver", "embedded"},
                                      {"sqlUID", local.user},
                                      {"sqlPWD", local.password},
                                      {"sqlPort", local.port},
                                      {"centralHost", "127.0.0.1"},
                                      {"centralPort", std::to_string(sim.port())}});
  service::HostIntervals intervals;
  intervals.socket = 300ms;  // reconnect and keepalive
  intervals.updateQueue = 50ms;
  // A queued change of a kind nobody knows: each drain removes it (and
  // records it as failed), so the queue's length shows whether drains run.
  auto localDb = Connect(root.DataRoot(), local, "Portavento");
  auto queueLength = [&] { return QueryInt(*localDb, "Select Count(*) From UpdateQueue"); };
  auto queueOne = [&] {
    localDb->Execute("Insert Into UpdateQueue (tableName, resId, recordId) Values (N'x', 0, 0)");
  };
  queueOne();
  HostOnLoop host(root, intervals);

  const auto nwid = sim.WaitReceived("NWID ", 30s);
  ASSERT_TRUE(nwid) << sim.LogText();
  ASSERT_TRUE(sim.WaitReceived("DBCN", 30s, *nwid)) << sim.LogText();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(queueLength(), 1) << "the queue ran before the installation was confirmed";

  EXPECT_TRUE(sim.Command("vdid").ok);
  EXPECT_TRUE(WaitUntil([&] { return queueLength() == 0; }, 10s));
  EXPECT_TRUE(sim.WaitReceived("PVTE", 10s)) << sim.LogText();

  // The simulator drops the link: the timer stops; the service reconnects,
  // identifies with its stored key, and waits for the next "VDID".
  std::size_t from = sim.ReceivedCount();
  EXPECT_TRUE(sim.Command("drop").ok);
  ASSERT_TRUE(sim.WaitReceived("PVID ", 30s, from)) << sim.LogText();
  queueOne();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(queueLength(), 1) << "the queue kept running after the disconnect";

  EXPECT_TRUE(sim.Command("vdid").ok);
  EXPECT_TRUE(WaitUntil([&] { return queueLength() == 0; }, 10s));
}

}  // namespace
}  // namespace pv::e2e
