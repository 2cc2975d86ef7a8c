// Full upload of a large synthetic site on the embedded engine.
//
//   pv_bench_full_upload [scale] [work folder] [rows per transaction]
//
// scale 1 is 5,000 residents (2,000 with a 100 KB photo), 20,000 access
// codes, 10,000 notification addresses, 20,000 parcels, 200,000 log rows
// (5,000 with two 50 KB photos), 2,000 additional photos (50 KB) and 5,000
// e-mail rows; 0.5 is half of everything.
//
// In one process run:
//   1. the upload as the service runs it, into a fresh central instance,
//      timed, with its peak memory and the bytes of its statements and photos;
//   2. the floor: a plain program that reads the same local database file and
//      writes the same rows and photo bytes into the same central tables
//      (their CREATE texts taken from the database the upload filled, same
//      page size, journal and checks) with SQLite's prepared statements in
//      one transaction;
//   3. the cost of the upload's bytes over loopback TCP, for scale.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/process_memory.h"
#include "db/connections/installation.h"
#include "db/embedded/embedded_engine.h"
#include "db/tsql/translator.h"
#include "schema/sql_scripts.h"
#include "sync/full_upload.h"
#include "tests/support/site.h"

namespace {

using pv::testsite::BinaryLiteral;
using pv::testsite::PatternBytes;
using pv::testsite::UploadSite;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

using pv::bench::ResetPeakRss;
using pv::bench::StatusMb;

// Peaks of the anonymous (heap, stacks) and file-backed (memory-mapped
// database files) parts of the resident set, sampled every 5 ms while the
// object lives. The kernel keeps no peak of the parts, only of their sum.
class RssSampler {
 public:
  RssSampler() : thread_([this] { Loop(); }) {}
  ~RssSampler() { Stop(); }
  void Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    thread_.join();
  }
  double anonMb() const { return anon_ / 1024.0; }
  double fileMb() const { return file_ / 1024.0; }

 private:
  void Loop() {
    while (!stop_) {
      std::ifstream status("/proc/self/status");
      std::string line;
      while (std::getline(status, line)) {
        if (line.rfind("RssAnon:", 0) == 0) anon_ = std::max(anon_, std::stod(line.substr(8)));
        if (line.rfind("RssFile:", 0) == 0) file_ = std::max(file_, std::stod(line.substr(8)));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  std::atomic<bool> stop_{false};
  double anon_ = 0;
  double file_ = 0;
  std::thread thread_;
};

struct SiteSize {
  int residents, residentPhotos, accessCodes, notifications, parcels, logs, logPhotos,
      additionalPhotos, emails;
};

SiteSize Scaled(double s) {
  auto n = [s](int v) { return static_cast<int>(v * s); };
  return {n(5000), n(2000), n(20000), n(10000), n(20000), n(200000), n(5000), n(2000), n(5000)};
}

constexpr std::size_t kResidentPhoto = 100 * 1024;
constexpr std::size_t kLogPhoto = 50 * 1024;
constexpr std::size_t kAdditionalPhoto = 50 * 1024;

// Runs `rows` as multi-row inserts of at most 500 rows per command.
void InsertRows(pv::db::Connection& c, const std::string& head, int count,
                const std::function<std::string(int)>& row) {
  std::string sql;
  for (int i = 0; i < count; ++i) {
    if (sql.empty()) {
      sql = head;
    } else {
      sql += ", ";
    }
    sql += "(" + row(i) + ")";
    if ((i + 1) % 500 == 0 || i + 1 == count) {
      c.Execute(sql);
      sql.clear();
    }
  }
}

void FillSite(pv::db::Connection& c, const SiteSize& z) {
  c.Execute("Insert Into Settings (name, zip) Values (N'Bench Towers', N'10001')");
  InsertRows(c,
             "Insert Into Names (resType, lastName, firstName, suite, company, button1Type, "
             "button2Type, button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, "
             "button2Comm, phone3, button3Loc, button3Comm, hide, hideBut1, hideBut2, hideBut3, "
             "notes1, notes2, photoDescr, dmCode, mailRoomID) Values ",
             z.residents, [](int i) {
               return "N'R', N'O''Name" + std::to_string(i) + "', N'First', N'" +
                      std::to_string(100 + i) +
                      "', N'', N'P', N'E', N'N', N'5551234', N'A1', N'main', N'', N'', N'', N'', "
                      "N'', N'', 0, 0, 1, 0, N'notes', Null, Null, N'D1', " +
                      std::to_string(i % 3);
             });
  // Photos one by one: a 100 KB photo is a 200 KB literal.
  for (int i = 0; i < z.residentPhotos; ++i) {
    c.Execute("Update Names Set photo = " + BinaryLiteral(PatternBytes(kResidentPhoto, i)) +
              ", photoDescr = N'photo' Where id = " + std::to_string(i + 1));
  }
  InsertRows(c,
             "Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, "
             "codeStartDate, codeEndDate, codeStartTime, codeEndTime, codeMon, codeTue, codeWed, "
             "codeThr, codeFri, codeSat, codeSun, numericalCode, accessType0, accessType1, "
             "accessType2, accessType3, accessType4, accessType5) Values ",
             z.accessCodes, [&](int i) {
               return std::to_string(i % z.residents + 1) + ", N'" + std::to_string(1000 + i) +
                      "', N'code', 1, 0, 0, '2026-01-01T00:00:00', '2026-12-31T00:00:00', "
                      "'1900-01-01T08:00:00', '1900-01-01T18:00:00', 1, 1, 1, 1, 1, 0, 0, N'" +
                      std::to_string(1000 + i) + "', 1, 0, 0, 0, 0, 0";
             });
  InsertRows(c, "Insert Into Notification (resId, email) Values ", z.notifications / 2, [&](int i) {
    return std::to_string(i % z.residents + 1) + ", N'n" + std::to_string(i) + "@example.com'";
  });
  InsertRows(c, "Insert Into NotificationF (resId, email) Values ",
             z.notifications - z.notifications / 2, [&](int i) {
               return std::to_string(i % z.residents + 1) + ", N'f" + std::to_string(i) +
                      "@example.com'";
             });
  InsertRows(c, "Insert Into Packages (nameId, packageType, packageDate, pickupDate) Values ",
             z.parcels, [&](int i) {
               return std::to_string(i % z.residents + 1) + ", 1, '2026-03-04T10:11:12', " +
                      (i % 4 == 0 ? std::string("Null") : std::string("'2026-03-05T09:00:00'"));
             });
  c.Execute(
      "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values "
      "(1, N'Box', N'box.png'), (2, N'Letter', N'letter.png')");
  c.Execute("Insert Into Packages_Settings (id, mailRoomName) Values (1, N'Main room')");
  InsertRows(c,
             "Insert Into Logs (entryId, residentId, aDateTime, action, data, computerName) "
             "Values ",
             z.logs, [&](int i) {
               return std::to_string(i % 4 + 1) + ", " + std::to_string(i % z.residents + 1) +
                      ", '2026-04-01T07:08:09', N'Call', N'data " + std::to_string(i) +
                      "', N'PANEL-1'";
             });
  for (int i = 0; i < z.logPhotos; ++i) {
    c.Execute("Update Logs Set photo = " + BinaryLiteral(PatternBytes(kLogPhoto, i)) +
              ", photo2 = " + BinaryLiteral(PatternBytes(kLogPhoto, i + 7)) +
              " Where id = " + std::to_string(i * (z.logs / z.logPhotos) + 1));
  }
  c.Execute(
      "Insert Into Entries (entryId, entryName, mesLine1, mesLine2, mesLine3, version) Values "
      "(1, N'Front', N'Welcome', N'', N'', N'2.1'), (2, N'Back', N'', N'', N'', N'2.1'), "
      "(3, N'Garage', N'', N'', N'', N'2.1'), (4, N'Lobby', N'', N'', N'', N'2.1')");
  for (int i = 0; i < z.additionalPhotos; ++i) {
    c.Execute("Insert Into AdditionalPhotos (label, resId, photo) Values (N'extra', " +
              std::to_string(i % z.residents + 1) + ", " +
              BinaryLiteral(PatternBytes(kAdditionalPhoto, i + 3)) + ")");
  }
  InsertRows(c, "Insert Into Emails (resId, email, iPhoneDeviceId) Values ", z.emails, [](int i) {
    return std::to_string(i + 1) + ", N'r" + std::to_string(i) + "@example.com', Null";
  });
}

// Passes everything to the real central connection and counts the bytes of
// each statement and each stored photo file.
class CountingConnection : public pv::db::Connection {
 public:
  CountingConnection(std::unique_ptr<pv::db::Connection> inner, std::uintmax_t& bytes)
      : inner_(std::move(inner)), bytes_(bytes) {}
  void Open(const pv::db::ConnectionParams& p) override { inner_->Open(p); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  void Close() override { inner_->Close(); }
  void SetCommandTimeout(int s) override { inner_->SetCommandTimeout(s); }
  std::int64_t Execute(const std::string& sql) override {
    bytes_ += sql.size();
    return inner_->Execute(sql);
  }
  std::unique_ptr<pv::db::Rowset> Query(const std::string& sql, pv::db::Cursor c) override {
    return inner_->Query(sql, c);
  }
  std::string CurrentDatabase() override { return inner_->CurrentDatabase(); }
  void SetCurrentDatabase(const std::string& name) override { inner_->SetCurrentDatabase(name); }
  bool StoreFileInColumn(const std::string& table, const std::string& column, std::int64_t id,
                         const std::filesystem::path& file) override {
    bytes_ += std::filesystem::file_size(file);
    return inner_->StoreFileInColumn(table, column, id, file);
  }
  bool ReadColumn(const std::string& table, const std::string& column, std::int64_t id,
                  const pv::db::ColumnSink& sink) override {
    return inner_->ReadColumn(table, column, id, sink);
  }

 private:
  std::unique_ptr<pv::db::Connection> inner_;
  std::uintmax_t& bytes_;
};

pv::db::ConnectionParams CentralParams(const std::string& port, const std::string& db) {
  return {"localhost", port, "sa", "", db};
}

// A fresh central instance on `port` with the home database.
void MakeCentral(const UploadSite& site, const std::string& port) {
  pv::db::embedded::CreateInstance(site.sqlRoot(), "localhost", port);
  auto c = pv::db::embedded::MakeEmbeddedConnection(site.sqlRoot());
  c->Open(CentralParams(port, ""));
  c->Execute("Create Database PVHome");
  c->SetCurrentDatabase("PVHome");
  pv::schema::RunSqlScript(*c, pv::schema::ReadSqlScript(pv::schema::kHomeScript));
  c->Execute("Insert Into Installations (installationID) Values (N'BENCH')");
  c->Close();
}

struct RunFigures {
  double seconds = 0;
  double peakRssMb = 0;
  double peakAnonMb = 0;
  double peakFileMb = 0;
};

// The site as the upload's host, with a central connection of the bench's
// own (recording the statements, or not).
class UploadHost : public pv::sync::JobHost {
 public:
  static inline int batchRows = kDefaultUploadBatchRows;
  UploadHost(UploadSite& site, pv::db::CentralConnection& central,
             pv::db::CentralConnectionSettings settings)
      : site_(site), central_(central), settings_(std::move(settings)) {}
  pv::db::Connection* LocalConnection() override { return site_.LocalConnection(); }
  pv::db::CentralConnection& Central() override { return central_; }
  bool OpenCentral() override { return central_.OpenCentralConnection(settings_); }
  std::string HomeDatabase() const override { return settings_.homeDatabase; }
  std::string InstallationId() const override { return "1"; }
  std::filesystem::path AppFolder() const override { return site_.AppFolder(); }
  std::string LocalPassword() const override { return site_.LocalPassword(); }
  bool UpdateQueueActive() const override { return false; }
  int UploadBatchRows() const override { return batchRows; }
  void WriteLog(const std::string& m, long n, const std::string& d) override {
    site_.WriteLog(m, n, d);
  }
  void SendToCentral(const std::string& text) override { site_.SendToCentral(text); }

 private:
  UploadSite& site_;
  pv::db::CentralConnection& central_;
  pv::db::CentralConnectionSettings settings_;
};

RunFigures RunUpload(UploadSite& site, const std::string& port, std::uintmax_t& bytes) {
  pv::db::CentralConnection central([&]() -> std::unique_ptr<pv::db::Connection> {
    return std::make_unique<CountingConnection>(
        pv::db::embedded::MakeEmbeddedConnection(site.sqlRoot()), bytes);
  });
  pv::db::CentralConnectionSettings settings{"sa", "", "localhost", "PVHome", port};
  UploadHost host(site, central, settings);

  ResetPeakRss();
  RssSampler sampler;
  const auto start = Clock::now();
  const auto result = pv::sync::TransferDataToCX(host);
  const double seconds = Seconds(start);
  sampler.Stop();
  RunFigures f{seconds, StatusMb("VmHWM:"), sampler.anonMb(), sampler.fileMb()};
  if (result != pv::sync::FullUploadResult::Completed) {
    std::cerr << "upload did not complete:";
    for (const auto& l : site.logged)
      std::cerr << ' ' << l.message << " - " << l.number << " - " << l.detail;
    std::cerr << '\n';
    std::exit(1);
  }
  return f;
}

sqlite3* OpenFile(const std::filesystem::path& file, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    std::cerr << "cannot open " << file << ": " << sqlite3_errmsg(db) << '\n';
    std::exit(1);
  }
  return db;
}

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::cerr << sql << ": " << (error ? error : "?") << '\n';
    std::exit(1);
  }
}

std::vector<std::string> Column0(sqlite3* db, const std::string& sql) {
  std::vector<std::string> out;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW)
    out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  return out;
}

// The floor (see the top of the file): copies the tables of `made` (the
// installation database the upload filled) from `localFile` into a new file
// `target`, rows picked as the upload picks them. The home database's
// e-mail rows are left out (5,000 of the site's rows), so the floor is a
// little lower than the upload's own work.
double Floor(const std::filesystem::path& localFile, const std::filesystem::path& made,
             const std::filesystem::path& target) {
  std::vector<std::string> creates;
  std::vector<std::string> tables;
  {
    sqlite3* m = OpenFile(made, SQLITE_OPEN_READONLY);
    tables = Column0(m,
                     "Select name From sqlite_master Where type = 'table' And name Not Like "
                     "'sqlite%' Order By rowid");
    creates = Column0(m,
                      "Select sql From sqlite_master Where type In ('table', 'index') And "
                      "sql Is Not Null And name Not Like 'sqlite%' Order By rowid");
    sqlite3_close(m);
  }
  std::filesystem::remove(target);
  sqlite3* out = OpenFile(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  Exec(out, "PRAGMA page_size=8192; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  pv::db::tsql::Prepare(out);  // the collation and the functions the checks call
  for (const auto& c : creates) Exec(out, c);
  sqlite3* in = OpenFile(localFile, SQLITE_OPEN_READONLY);

  const auto start = Clock::now();
  Exec(out, "BEGIN");
  for (const auto& table : tables) {
    const auto local = Column0(in, "Select name From pragma_table_info('" + table + "')");
    if (local.empty()) continue;
    std::string columns, marks;
    for (const auto& c : Column0(out, "Select name From pragma_table_info('" + table + "')")) {
      const auto same = [&c](const std::string& l) {
        return strcasecmp(l.c_str(), c.c_str()) == 0;
      };
      if (std::find_if(local.begin(), local.end(), same) == local.end()) continue;
      columns += (columns.empty() ? "\"" : ", \"") + c + "\"";
      marks += marks.empty() ? "?" : ", ?";
    }
    std::string where;
    if (table == "Names") where = " Where resType = 'R' Or resType = 'S'";
    if (table == "AdditionalPhotos") where = " Where photo Is Not Null";
    sqlite3_stmt* read = nullptr;
    sqlite3_stmt* write = nullptr;
    sqlite3_prepare_v2(in, ("Select " + columns + " From \"" + table + "\"" + where).c_str(), -1,
                       &read, nullptr);
    sqlite3_prepare_v2(
        out, ("Insert Into \"" + table + "\" (" + columns + ") Values (" + marks + ")").c_str(), -1,
        &write, nullptr);
    const int n = sqlite3_column_count(read);
    while (sqlite3_step(read) == SQLITE_ROW) {
      for (int i = 0; i < n; ++i) sqlite3_bind_value(write, i + 1, sqlite3_column_value(read, i));
      if (sqlite3_step(write) != SQLITE_DONE) {
        std::cerr << table << ": " << sqlite3_errmsg(out) << '\n';
        std::exit(1);
      }
      sqlite3_reset(write);
    }
    sqlite3_finalize(read);
    sqlite3_finalize(write);
  }
  Exec(out, "COMMIT");
  sqlite3_close(in);
  sqlite3_close(out);  // includes the checkpoint, as the upload's close does
  return Seconds(start);
}

// `bytes` written to a loopback TCP connection and read on the other end.
double Loopback(std::uintmax_t bytes) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(listener, 1);
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  const auto start = Clock::now();
  std::thread reader([listener] {
    const int c = accept(listener, nullptr, nullptr);
    std::vector<char> buffer(1 << 16);
    while (read(c, buffer.data(), buffer.size()) > 0) {
    }
    close(c);
  });
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  std::vector<char> buffer(1 << 16, 'x');
  for (std::uintmax_t left = bytes; left > 0;) {
    const auto n = write(s, buffer.data(), std::min<std::uintmax_t>(left, buffer.size()));
    if (n <= 0) break;
    left -= static_cast<std::uintmax_t>(n);
  }
  close(s);
  reader.join();
  close(listener);
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
  const std::filesystem::path parent = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
  const SiteSize z = Scaled(scale);
  if (argc > 3) UploadHost::batchRows = std::atoi(argv[3]);

  UploadSite site(true, parent);
  auto start = Clock::now();
  FillSite(site.local(), z);
  const double buildPeak = StatusMb("VmHWM:");
  std::printf("site (scale %.2f) built in %.1f s under %s\n", scale, Seconds(start),
              site.root().c_str());

  const long long rows = 1LL + z.emails + z.residents + z.accessCodes + z.notifications +
                         z.parcels + 2 + 1 + z.logs + 4 + z.additionalPhotos;
  const double photoMb =
      (static_cast<double>(z.residentPhotos) * kResidentPhoto + 2.0 * z.logPhotos * kLogPhoto +
       static_cast<double>(z.additionalPhotos) * kAdditionalPhoto) /
      (1024.0 * 1024.0);

  // 1. The upload as the service runs it.
  MakeCentral(site, "1502");
  const double before = StatusMb("VmRSS:");
  std::uintmax_t bytes = 0;
  const RunFigures upload = RunUpload(site, "1502", bytes);
  const auto central = pv::db::embedded::InstanceFolder(site.sqlRoot(), "localhost", "1502");

  // 2. The floor, into a file beside the site.
  const auto installation = central / (pv::db::InstallationDatabaseName("1") + ".sqlite");
  const auto local =
      pv::db::embedded::InstanceFolder(site.sqlRoot(), "localhost", "1433") / "Portavento.sqlite";
  const double floor = Floor(local, installation, site.root() / "floor.sqlite");
  std::filesystem::remove_all(central);

  // 3. The same bytes over loopback TCP.
  const double tcp = Loopback(bytes);

  std::printf("rows copied           %lld\n", rows);
  std::printf("photos copied         %.1f MB\n", photoMb);
  std::printf("full upload           %.2f s  (%.0f rows/s, %.1f photo MB/s)\n", upload.seconds,
              rows / upload.seconds, photoMb / upload.seconds);
  std::printf("one-transaction copy  %.2f s  (SQLite prepared statements, same rows and photos)\n",
              floor);
  std::printf("ratio                 %.2f  (target <= 2)\n", upload.seconds / floor);
  std::printf("loopback TCP          %.2f s  for the upload's %.1f MB of statements and photos\n",
              tcp, static_cast<double>(bytes) / (1024.0 * 1024.0));
  std::printf("peak RSS while building the site %.1f MB\n", buildPeak);
  std::printf("RSS before upload     %.1f MB\n", before);
  std::printf("peak RSS during upload %.1f MB  (target < 48)\n", upload.peakRssMb);
  std::printf("  of which anonymous  %.1f MB  (heap, stacks; sampled every 5 ms)\n",
              upload.peakAnonMb);
  std::printf("  of which file-backed %.1f MB (memory-mapped database files)\n", upload.peakFileMb);
  return 0;
}
