// The update-queue drain on the embedded engine.
//
//   pv_bench_update_queue [changes] [latency samples]
//
// 1. Rate: `changes` (default 10,000) queued "NamesU" changes over 500
//    residents, drained by the real drain on an event loop; the time spent in
//    each kind of database call is summed (central open/close, central
//    statements, local queries, queue-row deletes).
// 2. Memory: the peak resident set while draining 1,000 and then `changes`
//    rows.
// 2b. Floor: the same per-change work done with SQLite prepared statements
//    on the same database files (the queue read in one query; per change
//    the local Names row read, the central row updated, the queue row
//    deleted, each in its own transaction as the drain commits them), taking
//    turns with the drain in rounds of 1,000 changes.
// 3. Latency: the drain ticking every 3 s on a loop thread; `samples`
//    (default 100) changes made at random moments over a minute; each one's
//    time from the local write to the central row showing it.
#include <sqlite3.h>

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/process_memory.h"
#include "db/embedded/embedded_engine.h"
#include "platform/timer.h"
#include "sync/update_queue.h"
#include "tests/support/site.h"

namespace {

using pv::testsite::UploadSite;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

using pv::bench::ResetPeakRss;
using pv::bench::StatusMb;

// Time spent per kind of call, summed.
std::map<std::string, double> g_spent;

class Timed {
 public:
  explicit Timed(const char* what) : what_(what), start_(Clock::now()) {}
  ~Timed() { g_spent[what_] += Seconds(start_); }

 private:
  const char* what_;
  Clock::time_point start_;
};

class TimedRowset : public pv::db::Rowset {
 public:
  TimedRowset(std::unique_ptr<pv::db::Rowset> inner, const char* what)
      : inner_(std::move(inner)), what_(what) {}
  int ColumnCount() const override { return inner_->ColumnCount(); }
  const std::string& ColumnName(int i) const override { return inner_->ColumnName(i); }
  bool Next() override {
    Timed t(what_);
    return inner_->Next();
  }
  const pv::db::Value& Get(int i) const override { return inner_->Get(i); }
  void Close() override {
    Timed t(what_);
    inner_->Close();
  }

 private:
  std::unique_ptr<pv::db::Rowset> inner_;
  const char* what_;
};

// Sums the time of every call by kind; `side` is "local" or "central".
class TimedConnection : public pv::db::Connection {
 public:
  TimedConnection(pv::db::Connection& inner, std::string side) : inner_(inner), side_(side) {}
  TimedConnection(std::unique_ptr<pv::db::Connection> owned, std::string side)
      : owned_(std::move(owned)), inner_(*owned_), side_(side) {}
  void Open(const pv::db::ConnectionParams& p) override {
    Timed t(Name("open/close"));
    inner_.Open(p);
  }
  bool IsOpen() const override { return inner_.IsOpen(); }
  void Close() override {
    Timed t(Name("open/close"));
    inner_.Close();
  }
  void SetCommandTimeout(int s) override { inner_.SetCommandTimeout(s); }
  std::int64_t Execute(const std::string& sql) override {
    Timed t(Name(sql.rfind("Delete From UpdateQueue", 0) == 0 ? "queue-row delete" : "statements"));
    return inner_.Execute(sql);
  }
  std::unique_ptr<pv::db::Rowset> Query(const std::string& sql, pv::db::Cursor c) override {
    const char* what =
        Name(sql.find("INFORMATION_SCHEMA") != std::string::npos ? "mail-room query" : "queries");
    Timed t(what);
    return std::make_unique<TimedRowset>(inner_.Query(sql, c), what);
  }
  std::string CurrentDatabase() override { return inner_.CurrentDatabase(); }
  void SetCurrentDatabase(const std::string& n) override {
    Timed t(Name("database switch"));
    inner_.SetCurrentDatabase(n);
  }
  bool StoreFileInColumn(const std::string& table, const std::string& column, std::int64_t id,
                         const std::filesystem::path& file) override {
    return inner_.StoreFileInColumn(table, column, id, file);
  }
  bool ReadColumn(const std::string& table, const std::string& column, std::int64_t id,
                  const pv::db::ColumnSink& sink) override {
    return inner_.ReadColumn(table, column, id, sink);
  }

 private:
  const char* Name(const char* what) {
    // Interned so Timed can keep a pointer.
    static std::map<std::string, std::string> names;
    return names.try_emplace(side_ + " " + what, side_ + " " + what).first->second.c_str();
  }
  std::unique_ptr<pv::db::Connection> owned_;
  pv::db::Connection& inner_;
  std::string side_;
};

constexpr int kResidents = 500;

void FillResidents(pv::db::Connection& local) {
  std::string sql;
  for (int i = 0; i < kResidents; ++i) {
    sql += pv::testsite::ResidentInsert({{"lastName", "N'Name" + std::to_string(i) + "'"},
                                         {"button2Type", "N'E'"},
                                         {"notes1", "N'n1'"},
                                         {"mailRoomID", "1"}});
  }
  local.Execute(sql);
}

void QueueNamesU(pv::db::Connection& local, int count) {
  std::string sql;
  for (int i = 0; i < count; ++i) {
    sql += "Insert Into UpdateQueue (tableName, resId, recordId) Values (N'NamesU', " +
           std::to_string(1 + i % kResidents) + ", 0);";
    if ((i + 1) % 1000 == 0 || i + 1 == count) {
      local.Execute(sql);
      sql.clear();
    }
  }
}

// The site as the drain's host, every database call timed.
class BenchHost : public pv::sync::JobHost {
 public:
  BenchHost(UploadSite& site, pv::db::Connection& local)
      : site_(site), local_(local), central_([&site] {
          return std::make_unique<TimedConnection>(
              pv::db::embedded::MakeEmbeddedConnection(site.sqlRoot()), "central");
        }) {
    settings_ = {"sa", "", "localhost", pv::testsite::kHomeDatabase, pv::testsite::kCentralPort};
  }
  pv::db::Connection* LocalConnection() override { return &local_; }
  pv::db::CentralConnection& Central() override { return central_; }
  bool OpenCentral() override { return central_.OpenCentralConnection(settings_); }
  std::string HomeDatabase() const override { return pv::testsite::kHomeDatabase; }
  std::string InstallationId() const override { return "1"; }
  std::filesystem::path AppFolder() const override { return site_.appFolder(); }
  std::string LocalPassword() const override { return ""; }
  bool UpdateQueueActive() const override { return true; }
  void WriteLog(const std::string& m, long n, const std::string& d) override {
    std::fprintf(stderr, "log: %s - %ld - %s\n", m.c_str(), n, d.c_str());
  }
  void SendToCentral(const std::string&) override {}

 private:
  UploadSite& site_;
  pv::db::Connection& local_;
  pv::db::CentralConnection central_;
  pv::db::CentralConnectionSettings settings_;
};

// Drains the whole queue on a fresh loop; seconds taken.
double Drain(UploadSite& site, pv::db::Connection& local) {
  asio::io_context io;
  BenchHost host(site, local);
  auto drain = std::make_shared<pv::sync::UpdateQueueDrain>(io, host);
  const auto start = Clock::now();
  drain->Tick();
  io.run();
  return Seconds(start);
}

// The database file of `database` in the embedded instance folder `folder`.
std::filesystem::path DatabaseFile(const std::filesystem::path& folder,
                                   const std::string& database) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    std::string want = database + ".sqlite";
    std::transform(want.begin(), want.end(), want.begin(), ::tolower);
    if (name == want) return entry.path();
  }
  std::fprintf(stderr, "no database file for %s\n", database.c_str());
  std::exit(1);
}

sqlite3* OpenRaw(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.string().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "cannot open %s\n", file.string().c_str());
    std::exit(1);
  }
  sqlite3_busy_timeout(db, 5000);
  // As the engine opens its files.
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA mmap_size=16777216;",
               nullptr, nullptr, nullptr);
  return db;
}

sqlite3_stmt* Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) !=
      SQLITE_OK) {
    std::fprintf(stderr, "floor statement failed: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
  return st;
}

void Done(sqlite3* db, sqlite3_stmt* st) {
  if (sqlite3_step(st) != SQLITE_DONE) {
    std::fprintf(stderr, "floor statement failed: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
  sqlite3_reset(st);
}

// The drain's per-change work for "NamesU" with prepared statements; the
// changes handled.
int Floor(UploadSite& site) {
  static const char* const kColumns[] = {
      "lastName",    "firstName",   "suite",       "company",    "button1Type",
      "button2Type", "button3Type", "phone1",      "button1Loc", "button1Comm",
      "phone2",      "button2Loc",  "button2Comm", "phone3",     "button3Loc",
      "button3Comm", "hide",        "hideBut1",    "hideBut2",   "hideBut3",
      "notes1",      "notes2",      "photoDescr",  "dmCode",     "mailRoomID"};
  constexpr int kCount = sizeof kColumns / sizeof kColumns[0];
  std::string select = "SELECT ", update = "UPDATE Names SET ";
  for (int i = 0; i < kCount; ++i) {
    select += std::string(i ? ", " : "") + kColumns[i];
    update += std::string(i ? ", " : "") + kColumns[i] + " = ?" + std::to_string(i + 1);
  }
  select += " FROM Names WHERE id = ?";
  update += " WHERE id = ?" + std::to_string(kCount + 1);
  sqlite3* local = OpenRaw(DatabaseFile(site.sqlRoot() / "localhost,1433", "Portavento"));
  sqlite3* central = OpenRaw(DatabaseFile(site.sqlRoot() / "localhost,1434", "Installation00001"));
  sqlite3_stmt* queue =
      Prepare(local, "SELECT id, tableName, resId, recordId FROM UpdateQueue ORDER BY id");
  sqlite3_stmt* names = Prepare(local, select);
  sqlite3_stmt* change = Prepare(central, update);
  sqlite3_stmt* erase = Prepare(local, "DELETE FROM UpdateQueue WHERE id = ?");
  std::vector<std::pair<std::int64_t, std::int64_t>> rows;  // queue id, resident
  while (sqlite3_step(queue) == SQLITE_ROW) {
    rows.emplace_back(sqlite3_column_int64(queue, 0), sqlite3_column_int64(queue, 2));
  }
  sqlite3_reset(queue);
  for (const auto& [id, resident] : rows) {
    sqlite3_bind_int64(names, 1, resident);
    if (sqlite3_step(names) == SQLITE_ROW) {
      for (int i = 0; i < kCount; ++i) {
        sqlite3_bind_value(change, i + 1, sqlite3_column_value(names, i));
      }
      sqlite3_bind_int64(change, kCount + 1, resident);
      sqlite3_reset(names);
      Done(central, change);
    } else {
      sqlite3_reset(names);
    }
    sqlite3_bind_int64(erase, 1, id);
    Done(local, erase);
  }
  for (sqlite3_stmt* st : {queue, names, change, erase}) sqlite3_finalize(st);
  sqlite3_close(local);
  sqlite3_close(central);
  return static_cast<int>(rows.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int changes = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int samples = argc > 2 ? std::atoi(argv[2]) : 100;

  UploadSite site;
  FillResidents(site.local());
  site.AddInstallations(1);
  if (site.Upload("1") != pv::sync::FullUploadResult::Completed) {
    std::fprintf(stderr, "full upload failed\n");
    return 1;
  }
  TimedConnection local(site.local(), "local");

  // 1 and 2: rate, time split, memory.
  QueueNamesU(site.local(), 1000);
  ResetPeakRss();
  const double base = StatusMb("VmRSS:");
  Drain(site, local);
  const double peak1k = StatusMb("VmHWM:");
  g_spent.clear();
  QueueNamesU(site.local(), changes);
  ResetPeakRss();
  const double seconds = Drain(site, local);
  const double peakN = StatusMb("VmHWM:");
  std::printf("drain: %d NamesU changes in %.2f s = %.0f changes/s\n", changes, seconds,
              changes / seconds);
  std::vector<std::pair<double, std::string>> split;
  for (const auto& [what, s] : g_spent) split.emplace_back(s, what);
  std::sort(split.rbegin(), split.rend());
  for (const auto& [s, what] : split) {
    std::printf("  %-26s %7.2f s  %5.1f %%  %6.3f ms/change\n", what.c_str(), s, 100 * s / seconds,
                1000 * s / changes);
  }
  std::printf(
      "memory: resident %.1f MB before; peak %.1f MB draining 1,000; peak %.1f MB "
      "draining %d\n",
      base, peak1k, peakN, changes);

  // 2b: the drain against its prepared-statement floor, taking turns.
  double drainSeconds = 0, floorSeconds = 0;
  int drained = 0, floored = 0;
  for (int round = 0; round < std::max(1, changes / 1000); ++round) {
    QueueNamesU(site.local(), 1000);
    drainSeconds += Drain(site, local);
    drained += 1000;
    QueueNamesU(site.local(), 1000);
    const auto start = Clock::now();
    floored += Floor(site);
    floorSeconds += Seconds(start);
  }
  std::printf(
      "against the floor: drain %.0f changes/s, prepared statements %.0f changes/s, ratio %.2f "
      "(target <= 2)\n",
      drained / drainSeconds, floored / floorSeconds,
      (drainSeconds / drained) / (floorSeconds / floored));

  // 3: latency with the drain ticking every 3 s.
  if (samples <= 0) return 0;
  asio::io_context io;
  auto work = asio::make_work_guard(io);
  BenchHost host(site, local);
  auto drain = std::make_shared<pv::sync::UpdateQueueDrain>(io, host);
  pv::platform::Timer timer(io, std::chrono::milliseconds(3000), [drain] { drain->Tick(); });
  timer.Enable();
  std::thread loop([&] { io.run(); });

  // The writer and the watcher use their own connections.
  auto writerCentral = site.CentralDb("Installation00001");
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> gap(0, 1200);
  std::vector<double> latency;
  std::vector<Clock::time_point> written(samples);
  std::vector<bool> seen(samples, false);
  int next = 0;
  auto nextAt = Clock::now();
  // Local writes happen on the loop thread (the local connection is the
  // loop's); the watcher polls the central side every 5 ms.
  while (static_cast<int>(latency.size()) < samples) {
    if (next < samples && Clock::now() >= nextAt) {
      const int i = next++;
      std::promise<void> done;
      asio::post(io, [&, i] {
        written[i] = Clock::now();
        site.local().Execute("Update Names Set lastName = N'L" + std::to_string(i) +
                             "' Where id = " + std::to_string(1 + i % kResidents) +
                             ";Insert Into UpdateQueue (tableName, resId, recordId) Values "
                             "(N'NamesU', " +
                             std::to_string(1 + i % kResidents) + ", 0);");
        done.set_value();
      });
      done.get_future().wait();
      nextAt = Clock::now() + std::chrono::milliseconds(gap(rng));
    }
    for (int i = 0; i < next; ++i) {
      if (seen[i]) continue;
      auto rows = writerCentral->Query("Select lastName From Names Where id = " +
                                       std::to_string(1 + i % kResidents));
      if (rows->Next() && rows->Get(0).ToText() == "L" + std::to_string(i)) {
        seen[i] = true;
        latency.push_back(Seconds(written[i]));
      }
      rows->Close();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  asio::post(io, [&] {
    timer.Disable();
    work.reset();
  });
  loop.join();
  std::sort(latency.begin(), latency.end());
  auto pct = [&](double p) {
    return latency[std::min(latency.size() - 1, static_cast<std::size_t>(p * latency.size()))];
  };
  std::printf("latency over %d changes (tick 3 s): median %.2f s, p99 %.2f s, max %.2f s\n",
              samples, pct(0.5), pct(0.99), latency.back());
  return 0;
}
