// 1,000 "UPDA" orders of the kind "TenantAccess" for a resident with 20
// access codes, sent back to back by the real pvcentral to a service host on
// its own loop, both databases on the embedded engine. Each order's apply
// time is measured around the host's handling of "UPDA"; the program prints the
// percentiles and exits 1 when the 99th percentile is above 50 ms.
#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "service/service_host.h"
#include "tests/e2e/central_sim.h"
#include "tests/e2e/service_process.h"
#include "tests/e2e/sql_site.h"
#include "tests/e2e/temp_root.h"
#include "tests/support/wait.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The service host, timing each central change it applies.
class TimedHost : public pv::service::ServiceHost {
 public:
  using ServiceHost::ServiceHost;
  std::mutex mutex;
  std::vector<double> applyMs;

 protected:
  void CentralChange(const std::string& argument) override {
    const auto start = Clock::now();
    ServiceHost::CentralChange(argument);
    const std::chrono::duration<double, std::milli> took = Clock::now() - start;
    std::lock_guard lock(mutex);
    applyMs.push_back(took.count());
  }
};

constexpr int kOrders = 1000;
constexpr int kCodes = 20;

std::string AccessRow(int resId, int code) {
  const std::string c = std::to_string(1000 + code);
  return "(" + std::to_string(resId) + ", N'" + c + "', N'code " + c +
         "', 1, 0, 1, '2026-01-01T00:00:00', '2026-12-31T23:59:59', '1900-01-01T08:00:00', "
         "'1900-01-01T18:30:00', 1, 1, 1, 1, 1, 0, 0, N'" +
         c + "', 1, 0, 0, 0, 0, 1)";
}

const char kAccessInsert[] =
    "Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, "
    "codeStartDate, codeEndDate, codeStartTime, codeEndTime, codeMon, codeTue, codeWed, codeThr, "
    "codeFri, codeSat, codeSun, numericalCode, accessType0, accessType1, accessType2, "
    "accessType3, accessType4, accessType5) Values ";

int Run() {
  pv::e2e::TempRoot root;
  pv::e2e::SqlInstance local;
  pv::e2e::CreateLocalSite(root.DataRoot(), local);
  auto site = pv::e2e::Connect(root.DataRoot(), local, "Portavento");
  site->Execute(
      "Insert Into Names (resType, lastName, firstName, suite, company, phone1, phone2, phone3, "
      "button1Loc, button2Loc, button3Loc, button1Comm, button2Comm, button3Comm) Values (N'R', "
      "N'Bench', N'A', N'1', N'', N'', N'', N'', N'', N'', N'', N'', N'', N'')");

  pv::e2e::CentralSim sim(root);
  pv::e2e::WriteSiteSettings(root, local, sim.port());

  asio::io_context io;
  auto work = asio::make_work_guard(io);
  TimedHost host(io, pv::platform::Paths::UnderRoot(root.path().string()));
  std::mutex& mutex = host.mutex;
  std::vector<double>& applyMs = host.applyMs;
  asio::post(io, [&] { host.StartRemote(); });
  std::thread loop([&] { io.run(); });
  auto finish = [&](int code) {
    asio::post(io, [&] {
      host.ShutdownRemote();
      io.stop();
    });
    loop.join();
    return code;
  };

  if (!sim.WaitReceived("DBCN", 60s) || !sim.Command("datr").ok ||
      !sim.WaitReceived("DASN", 120s)) {
    std::fprintf(stderr, "the site did not come up:\n%s", sim.LogText().c_str());
    return finish(2);
  }
  auto home = pv::e2e::Connect(root.DataRoot(), sim.config().instance, sim.config().homeDatabase);
  const std::string id =
      std::to_string(pv::e2e::QueryInt(*home, "Select Max(id) From Installations"));
  const std::string number = std::string(5 - std::min<std::size_t>(5, id.size()), '0') + id;
  auto installation =
      pv::e2e::Connect(root.DataRoot(), sim.config().instance, "Installation" + number);
  std::string rows;
  for (int c = 0; c < kCodes; ++c) rows += (c ? ", " : "") + AccessRow(1, c);
  installation->Execute(kAccessInsert + rows);
  std::string queue;
  for (int i = 0; i < kOrders; ++i)
    queue += std::string(i ? ", " : "") + "(" + id + ", 1, N'TenantAccess')";
  home->Execute("Insert Into UpdateQueue (instId, recordId, tableName) Values " + queue);

  const auto start = Clock::now();
  if (!sim.Command("upda").ok) return finish(2);
  const bool done = pv::e2e::WaitUntil(
      [&] {
        std::lock_guard lock(mutex);
        return applyMs.size() >= static_cast<std::size_t>(kOrders);
      },
      600s, 10ms);
  const std::chrono::duration<double> wall = Clock::now() - start;
  if (!done) {
    std::fprintf(stderr, "only %zu of %d orders applied\n", applyMs.size(), kOrders);
    return finish(2);
  }
  const auto codes = pv::e2e::QueryInt(*site, "Select Count(*) From TenantAccess Where resId = 1");
  const auto left = pv::e2e::QueryInt(*home, "Select Count(*) From UpdateQueue");

  std::vector<double> ms;
  {
    std::lock_guard lock(mutex);
    ms = applyMs;
  }
  std::sort(ms.begin(), ms.end());
  auto at = [&](double p) { return ms[static_cast<std::size_t>(p * (ms.size() - 1))]; };
  std::printf("orders %zu, codes per order %d, wall %.2f s (%.0f orders/s)\n", ms.size(), kCodes,
              wall.count(), ms.size() / wall.count());
  std::printf("apply time ms: p50 %.2f  p90 %.2f  p99 %.2f  max %.2f\n", at(0.5), at(0.9), at(0.99),
              ms.back());
  std::printf("local codes %lld (want %d), central queue rows left %lld (want 0)\n",
              static_cast<long long>(codes), kCodes, static_cast<long long>(left));
  const bool ok = at(0.99) <= 50.0 && codes == kCodes && left == 0;
  std::printf("%s: p99 <= 50 ms\n", ok ? "PASS" : "FAIL");
  return finish(ok ? 0 : 1);
}

}  // namespace

int main() {
  try {
    return Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
}
