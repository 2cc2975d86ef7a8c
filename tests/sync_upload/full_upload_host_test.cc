// "DATR" end to end: the service host on a real event loop, the real pvcentral ordering the upload
// over the link, and the embedded engine on both sides.
#include <gtest/gtest.h>

#include "tests/e2e/central_sim.h"
#include "tests/e2e/host_on_loop.h"
#include "tests/e2e/sql_site.h"
#include "tests/e2e/temp_root.h"
#include "tests/support/sample_site.h"

namespace pv::e2e {
namespace {

using namespace std::chrono_literals;

TEST(FullUploadThroughTheLink, DatrCopiesTheSiteAndIsAnsweredWithDasn) {
  TempRoot root;
  SqlInstance local;
  CreateLocalSite(root.DataRoot(), local);
  {
    auto c = Connect(root.DataRoot(), local, "Portavento");
    testsite::FillSampleSite(*c, /*withSettings=*/false);
  }
  CentralSim sim(root);
  WriteSettings(root.MachineStore(), {{"sqlDriver", "embedded"},
                                      {"sqlUID", local.user},
                                      {"sqlPWD", local.password},
                                      {"sqlPort", local.port},
                                      {"centralHost", "127.0.0.1"},
                                      {"centralPort", std::to_string(sim.port())}});
  HostOnLoop host(root);
  ASSERT_TRUE(sim.WaitReceived("DBCN", 60s)) << sim.LogText();

  for (int run = 1; run <= 2; ++run) {
    const std::size_t from = sim.ReceivedCount();
    ASSERT_TRUE(sim.Command("datr").ok);
    ASSERT_TRUE(sim.WaitReceived("DASN", 60s, from)) << "run " << run << "\n" << sim.LogText();

    auto home = Connect(root.DataRoot(), sim.config().instance, sim.config().homeDatabase);
    const std::int64_t id = QueryInt(*home, "Select Max(id) From Installations");
    std::string number = std::to_string(id);
    number.insert(0, number.size() < 5 ? 5 - number.size() : 0, '0');
    EXPECT_EQ(
        QueryText(*home, "Select locName From Installations Where id = " + std::to_string(id)),
        "Test Site");
    EXPECT_EQ(QueryInt(*home, "Select Count(*) From Emails Where instId = " + std::to_string(id)),
              2);
    auto localDb = Connect(root.DataRoot(), local, "Portavento");
    auto installation = Connect(root.DataRoot(), sim.config().instance, "Installation" + number);
    testsite::ExpectSampleSiteCopied(*localDb, *installation);
  }
}

}  // namespace
}  // namespace pv::e2e
