// Figures for the embedded engine, all taken in one run:
//  1. 100,000 single-row INSERTs into the installation database's Names table
//     in the full upload's form, each its own Execute in autocommit, against
//     the same rows written in SQLite's own dialect through the SQLite C API
//     on an identical table with the same settings (WAL, synchronous=NORMAL,
//     busy timeout). Target: the engine reaches >= 70% of the raw rate.
//  2. A 10 MB photo stored with StoreFileInColumn and read back with a query.
//     Target: >= 200 MB/s for store plus read.
//
// Usage: bench_db_embedded [rows] [work folder]
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "db/connection.h"
#include "db/embedded/embedded_engine.h"
#include "schema/central_schema.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using pv::db::Connection;
using pv::db::ConnectionParams;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

std::string Doubled(const std::string& s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

// One Names row as the full upload writes it; `bits` gives the text of a bit
// value ('True'/'False' for the engine, 1/0 in SQLite's dialect).
std::string NamesInsert(int id, bool sqliteDialect) {
  auto bit = [&](bool v) {
    return sqliteDialect ? std::string(v ? "1" : "0") : std::string(v ? "'True'" : "'False'");
  };
  const std::string n = std::to_string(id);
  std::string s =
      "Insert Into Names (id, resType, lastName, firstName, suite, company, "
      "button1Type, button2Type, button3Type, "
      "phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, phone3, button3Loc, "
      "button3Comm, "
      "hide, hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr, mailRoomID, dmCode) Values "
      "(";
  s += n + ", 'R', '" + Doubled("O'Brien" + n) + "', 'Mary', '" + std::to_string(100 + id % 900) +
       "', 'Acme Ltd', 'P', 'C', '', '555-0100', '1A', 'Front door', '', '', '', '', '', '', ";
  s += bit(id % 7 == 0) + ", " + bit(false) + ", " + bit(true) + ", " + bit(false) + ", ";
  s += "Null, 'Moved in " + n + "', Null, Null, ''";
  s += ");";
  return s;
}

bool Exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n  in: %.200s\n", err ? err : "?", sql.c_str());
    sqlite3_free(err);
    return false;
  }
  return true;
}

std::string CreateNames() {
  for (const auto& t : pv::schema::CentralTables()) {
    if (t.name == "Names") return std::string(t.createSql);
  }
  return {};
}

std::unique_ptr<Connection> OpenEngine(const fs::path& root, const std::string& db) {
  auto c = pv::db::embedded::MakeEmbeddedConnection(root);
  c->Open(ConnectionParams{"localhost", "1433", "sa", "", db});
  return c;
}

// Rows per second through the engine, into a fresh database `name`.
double EngineRun(const fs::path& root, const std::string& name, int rows, std::string* tableSql) {
  OpenEngine(root, "master")->Execute("Create Database " + name);
  auto c = OpenEngine(root, name);
  c->Execute(CreateNames());
  auto t0 = Clock::now();
  for (int i = 1; i <= rows; ++i) c->Execute(NamesInsert(i, false));
  auto t1 = Clock::now();
  auto check = c->Query("Select Count(*) From Names");
  if (!check->Next() || check->Get(0).AsInteger() != rows) {
    std::fprintf(stderr, "engine run lost rows\n");
    std::exit(2);
  }
  // The table as the engine made it, for the raw run to copy.
  if (tableSql->empty()) {
    sqlite3* raw = nullptr;
    sqlite3_open((pv::db::embedded::InstanceFolder(root, "localhost", "1433") / (name + ".sqlite"))
                     .string()
                     .c_str(),
                 &raw);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(raw,
                       "SELECT sql FROM sqlite_master WHERE tbl_name = 'Names' AND sql "
                       "IS NOT NULL ORDER BY type DESC",
                       -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
      *tableSql += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
      *tableSql += ";\n";
    }
    sqlite3_finalize(st);
    sqlite3_close(raw);
  }
  return rows / Seconds(t0, t1);
}

// Rows per second straight through the SQLite C API, same table and settings.
double RawRun(const fs::path& file, int rows, const std::string& tableSql) {
  fs::remove(file);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.string().c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    std::exit(2);
  }
  sqlite3_busy_timeout(db, 60000);
  if (!Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;") || !Exec(db, tableSql)) {
    std::exit(2);
  }
  auto t0 = Clock::now();
  for (int i = 1; i <= rows; ++i) {
    const std::string sql = NamesInsert(i, true);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr) !=
            SQLITE_OK ||
        sqlite3_step(st) != SQLITE_DONE) {
      std::fprintf(stderr, "raw insert failed: %s\n", sqlite3_errmsg(db));
      std::exit(2);
    }
    sqlite3_finalize(st);
  }
  auto t1 = Clock::now();
  sqlite3_close(db);
  return rows / Seconds(t0, t1);
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
  const fs::path work =
      argc > 2 ? fs::path(argv[2])
               : fs::temp_directory_path() / ("pv_db_bench_" + std::to_string(::getpid()));
  fs::remove_all(work);
  fs::create_directories(work);
  const fs::path root = work / "sql";
  pv::db::embedded::CreateInstance(root, "localhost", "1433");

  try {
    // Two rounds, alternating, the best of each side: the machine is shared.
    std::string tableSql;
    double engine = 0, raw = 0;
    for (int round = 0; round < 2; ++round) {
      engine = std::max(engine, EngineRun(root, "Bench" + std::to_string(round), rows, &tableSql));
      raw =
          std::max(raw, RawRun(work / ("raw" + std::to_string(round) + ".sqlite"), rows, tableSql));
    }
    std::printf("Names INSERTs, %d rows, autocommit, one statement each:\n", rows);
    std::printf("  raw SQLite C API : %10.0f rows/s\n", raw);
    std::printf("  embedded engine  : %10.0f rows/s  (%.1f%% of raw; target >= 70%%)\n", engine,
                100.0 * engine / raw);

    // The photo.
    const std::size_t size = 10 * 1024 * 1024;
    const fs::path photo = work / "photo.jpg";
    {
      std::string bytes(size, '\0');
      std::mt19937 gen(1);
      for (auto& b : bytes) b = static_cast<char>(gen() & 0xff);
      std::ofstream(photo, std::ios::binary)
          .write(bytes.data(), static_cast<std::streamsize>(size));
    }
    auto c = OpenEngine(root, "Bench0");
    double bestStore = 1e9, bestRead = 1e9;
    for (int i = 0; i < 5; ++i) {
      auto t0 = Clock::now();
      if (!c->StoreFileInColumn("Names", "photo", 1, photo)) return 2;
      auto t1 = Clock::now();
      auto q = c->Query("Select photo From Names Where id = 1", pv::db::Cursor::Keyset);
      if (!q->Next() || q->Get(0).AsBinary().size() != size) return 2;
      q->Close();
      auto t2 = Clock::now();
      bestStore = std::min(bestStore, Seconds(t0, t1));
      bestRead = std::min(bestRead, Seconds(t1, t2));
    }
    const double mb = size / 1e6;
    std::printf("10 MB photo (%.1f MB):\n", mb);
    std::printf("  store (StoreFileInColumn): %7.1f ms  %7.0f MB/s\n", bestStore * 1e3,
                mb / bestStore);
    std::printf("  read back (Query)        : %7.1f ms  %7.0f MB/s\n", bestRead * 1e3,
                mb / bestRead);
    std::printf("  store + read             : %7.1f ms  %7.0f MB/s  (target >= 200 MB/s)\n",
                (bestStore + bestRead) * 1e3, mb / (bestStore + bestRead));
  } catch (const pv::db::DbError& e) {
    std::fprintf(stderr, "failed: %ld %s\n", e.number(), e.description().c_str());
    fs::remove_all(work);
    return 1;
  }
  fs::remove_all(work);
  return 0;
}
