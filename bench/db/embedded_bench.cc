// Figures for the embedded engine, all taken in one run:
//  1. 100,000 single-row INSERTs into the installation database's Names table
//     in the full upload's form, each its own Execute in autocommit, against
//     the same rows written in SQLite's own dialect through the SQLite C API
//     on an identical table with the same settings (8 KiB pages, WAL,
//     synchronous=NORMAL, memory map, busy timeout). Target: the engine
//     reaches >= 70% of the raw rate.
//  2. The engine's statement shapes, each against the same work done with
//     SQLite prepared statements (compiled once, values bound): an INSERT
//     with N'' literals, an UPDATE by id, a SELECT by id, a Top n ... Order By
//     and a DELETE by id, and the two catalog questions the service asks (does
//     a table have a column, does a table exist) against SQLite's own
//     catalog. Target: the engine within 1.5 x the raw time.
//  3. A 10 MB photo stored with StoreFileInColumn and read back with a query.
//     Target: >= 200 MB/s for store plus read.
//
// Usage: bench_db_embedded [rows] [work folder]; PV_BENCH_SIDE=engine or raw
// runs only that side of the INSERT figure (for a profiler).
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

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

// Every table of the installation database, so that the catalog views
// answer from a site's catalog, not from a single table.
std::string CreateTables() {
  std::string sql;
  for (const auto& t : pv::schema::CentralTables()) sql += std::string(t.createSql) + ";\n";
  return sql;
}

std::unique_ptr<Connection> OpenEngine(const fs::path& root, const std::string& db) {
  auto c = pv::db::embedded::MakeEmbeddedConnection(root);
  c->Open(ConnectionParams{"localhost", "1433", "sa", "", db});
  return c;
}

double CpuSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
// CPU time of the calling thread: the statement's own cost.
double ThreadCpuSeconds() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }
// CPU time of the whole process, the engine's checkpoint worker included.
double ProcessCpuSeconds() { return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }

struct Side {
  double wall = 0;
  double cpu = 0;
};

// The engine's database `name` with the Names table made by the engine from
// the central schema's text; returns the SQLite text of that table (and its
// indexes) for the raw side to copy.
std::string PrepareEngine(const fs::path& root, const std::string& name) {
  OpenEngine(root, "master")->Execute("Create Database " + name);
  OpenEngine(root, name)->Execute(CreateTables());
  std::string tableSql;
  sqlite3* raw = nullptr;
  sqlite3_open((pv::db::embedded::InstanceFolder(root, "localhost", "1433") / (name + ".sqlite"))
                   .string()
                   .c_str(),
               &raw);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(raw,
                     "SELECT sql FROM sqlite_master WHERE sql IS NOT NULL AND name NOT LIKE "
                     "'sqlite_%' ORDER BY type DESC",
                     -1, &st, nullptr);
  while (sqlite3_step(st) == SQLITE_ROW) {
    tableSql += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    tableSql += ";\n";
  }
  sqlite3_finalize(st);
  sqlite3_close(raw);
  return tableSql;
}

sqlite3* PrepareRaw(const fs::path& file, const std::string& tableSql) {
  fs::remove(file);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.string().c_str(), &db,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK) {
    std::exit(2);
  }
  sqlite3_busy_timeout(db, 60000);
  if (!Exec(db,
            "PRAGMA page_size=8192; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
            "PRAGMA mmap_size=268435456;") ||
      !Exec(db, tableSql)) {
    std::exit(2);
  }
  return db;
}

void RawInsert(sqlite3* db, int id) {
  const std::string sql = NamesInsert(id, true);
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &st, nullptr) !=
          SQLITE_OK ||
      sqlite3_step(st) != SQLITE_DONE) {
    std::fprintf(stderr, "raw insert failed: %s\n", sqlite3_errmsg(db));
    std::exit(2);
  }
  sqlite3_finalize(st);
}

sqlite3_stmt* Prepared(sqlite3* db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "raw prepare failed: %s\n", sqlite3_errmsg(db));
    std::exit(2);
  }
  return st;
}

// Steps a bound raw statement to its end and makes it ready for the next
// values; the rows it returned.
int StepAll(sqlite3* db, sqlite3_stmt* st) {
  int rows = 0;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) ++rows;
  if (rc != SQLITE_DONE) {
    std::fprintf(stderr, "raw statement failed: %s\n", sqlite3_errmsg(db));
    std::exit(2);
  }
  sqlite3_reset(st);
  return rows;
}

void BindText(sqlite3_stmt* st, int n, const std::string& text) {
  sqlite3_bind_text(st, n, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// Each shape `count` times on both sides, taking turns in chunks of 500.
void Shapes(Connection& engine, sqlite3* raw, int rows, int count) {
  sqlite3_stmt* insert = Prepared(
      raw,
      "INSERT INTO Names (id, resType, lastName, firstName, suite, company, button1Type, "
      "button2Type, button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, "
      "button2Comm, phone3, button3Loc, button3Comm, hide, hideBut1, hideBut2, hideBut3, notes1, "
      "notes2, photoDescr, mailRoomID, dmCode) VALUES (?, 'R', ?, 'Mary', ?, 'Acme Ltd', 'P', "
      "'C', '', '555-0100', '1A', 'Front door', '', '', '', '', '', '', ?, 0, 1, 0, Null, ?, "
      "Null, Null, '')");
  sqlite3_stmt* update = Prepared(raw, "UPDATE Names SET lastName = ? WHERE id = ?");
  sqlite3_stmt* select = Prepared(raw, "SELECT lastName, firstName FROM Names WHERE id = ?");
  sqlite3_stmt* top = Prepared(raw, "SELECT id, lastName FROM Names ORDER BY id DESC LIMIT 10");
  sqlite3_stmt* erase = Prepared(raw, "DELETE FROM Names WHERE id = ?");
  sqlite3_stmt* column =
      Prepared(raw, "SELECT count(*) FROM pragma_table_info('Names') WHERE name = 'mailRoomID'");
  sqlite3_stmt* table =
      Prepared(raw, "SELECT count(*) FROM sqlite_schema WHERE name = 'Names' AND type = 'table'");
  struct Shape {
    const char* name;
    std::function<void(int)> engine, raw;
  };
  auto id = [rows](int i) { return rows + 1 + i; };  // the rows this run inserts
  const std::vector<Shape> shapes = {
      {"INSERT with N'' literals",
       [&](int i) {
         const std::string n = std::to_string(id(i));
         engine.Execute(
             "Insert Into Names (id, resType, lastName, firstName, suite, company, button1Type, "
             "button2Type, button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, "
             "button2Comm, phone3, button3Loc, button3Comm, hide, hideBut1, hideBut2, hideBut3, "
             "notes1, notes2, photoDescr, mailRoomID, dmCode) Values (" +
             n + ", N'R', N'O''Brien" + n + "', N'Mary', N'" + std::to_string(100 + i % 900) +
             "', N'Acme Ltd', N'P', N'C', N'', N'555-0100', N'1A', N'Front door', N'', N'', N'', "
             "N'', N'', N'', " +
             std::string(i % 7 == 0 ? "'True'" : "'False'") +
             ", 'False', 'True', 'False', Null, N'Moved in " + n + "', Null, Null, N'')");
       },
       [&](int i) {
         const std::string n = std::to_string(id(i));
         sqlite3_bind_int(insert, 1, id(i));
         BindText(insert, 2, "O'Brien" + n);
         BindText(insert, 3, std::to_string(100 + i % 900));
         sqlite3_bind_int(insert, 4, i % 7 == 0 ? 1 : 0);
         BindText(insert, 5, "Moved in " + n);
         StepAll(raw, insert);
       }},
      {"UPDATE by id",
       [&](int i) {
         engine.Execute("Update Names Set lastName = N'Upd" + std::to_string(i) +
                        "' Where id = " + std::to_string(id(i)));
       },
       [&](int i) {
         BindText(update, 1, "Upd" + std::to_string(i));
         sqlite3_bind_int(update, 2, id(i));
         StepAll(raw, update);
       }},
      {"SELECT by id",
       [&](int i) {
         auto q = engine.Query("Select lastName, firstName From Names Where id = " +
                               std::to_string(id(i)));
         while (q->Next()) {
         }
       },
       [&](int i) {
         sqlite3_bind_int(select, 1, id(i));
         StepAll(raw, select);
       }},
      {"Top 10 ... Order By id Desc",
       [&](int) {
         auto q = engine.Query("Select Top 10 id, lastName From Names Order By id Desc");
         while (q->Next()) {
         }
       },
       [&](int) { StepAll(raw, top); }},
      {"catalog: a column of a table",
       [&](int) {
         auto q = engine.Query(
             "Select Count(*) From INFORMATION_SCHEMA.COLUMNS Where TABLE_NAME = 'Names' And "
             "COLUMN_NAME = 'mailRoomID'");
         while (q->Next()) {
         }
       },
       [&](int) { StepAll(raw, column); }},
      {"catalog: a table",
       [&](int) {
         auto q =
             engine.Query("Select Count(*) From sysobjects Where name = 'Names' And type = 'U'");
         while (q->Next()) {
         }
       },
       [&](int) { StepAll(raw, table); }},
      {"DELETE by id",
       [&](int i) { engine.Execute("Delete From Names Where id = " + std::to_string(id(i))); },
       [&](int i) {
         sqlite3_bind_int(erase, 1, id(i));
         StepAll(raw, erase);
       }},
  };
  std::printf("Statement shapes, %d each, autocommit (chunks of 500, taking turns):\n", count);
  std::printf(
      "                                 engine us   raw prepared us   ratio (target <= 1.5)\n");
  // PV_BENCH_SHAPE=<name prefix> repeats that shape ten times, after the
  // INSERT that makes its rows (for a profiler).
  const char* only = std::getenv("PV_BENCH_SHAPE");
  for (const Shape& shape : shapes) {
    const bool chosen = only && std::string(shape.name).rfind(only, 0) == 0;
    if (only && !chosen && &shape != &shapes.front()) continue;
    for (int round = 0; round < (chosen ? 10 : 1); ++round) {
      Side e, r;
      for (int first = 0; first < count; first += 500) {
        const int last = std::min(count, first + 500);
        auto t0 = Clock::now();
        for (int i = first; i < last; ++i) shape.engine(i);
        e.wall += Seconds(t0, Clock::now());
        t0 = Clock::now();
        for (int i = first; i < last; ++i) shape.raw(i);
        r.wall += Seconds(t0, Clock::now());
      }
      std::printf("  %-30s %9.1f   %15.1f   %5.2f\n", shape.name, 1e6 * e.wall / count,
                  1e6 * r.wall / count, e.wall / r.wall);
    }
  }
  for (sqlite3_stmt* st : {insert, update, select, top, erase, column, table}) {
    sqlite3_finalize(st);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
  // PV_BENCH_SIDE=engine or raw runs one side only (for a profiler).
  const char* side = std::getenv("PV_BENCH_SIDE");
  const bool engineOnly = side && std::string(side) == "engine";
  const bool rawOnly = side && std::string(side) == "raw";
  const fs::path work =
      argc > 2 ? fs::path(argv[2])
               : fs::temp_directory_path() / ("pv_db_bench_" + std::to_string(::getpid()));
  fs::remove_all(work);
  fs::create_directories(work);
  const fs::path root = work / "sql";
  pv::db::embedded::CreateInstance(root, "localhost", "1433");

  try {
    // The two sides take turns in chunks of rows, so that the load of a
    // shared machine falls on both alike; wall and CPU time are summed per side.
    const std::string tableSql = PrepareEngine(root, "Bench");
    auto engineConn = OpenEngine(root, "Bench");
    sqlite3* raw = PrepareRaw(work / "raw.sqlite", tableSql);
    const int chunk = std::max(1, std::min(rows, 2000));
    Side engine, direct;
    for (int first = 1; first <= rows; first += chunk) {
      const int last = std::min(rows, first + chunk - 1);
      if (!rawOnly) {
        auto t0 = Clock::now();
        double c0 = ThreadCpuSeconds();
        for (int i = first; i <= last; ++i) engineConn->Execute(NamesInsert(i, false));
        engine.cpu += ThreadCpuSeconds() - c0;
        engine.wall += Seconds(t0, Clock::now());
      }
      if (!engineOnly) {
        auto t0 = Clock::now();
        double c0 = ThreadCpuSeconds();
        for (int i = first; i <= last; ++i) RawInsert(raw, i);
        direct.cpu += ThreadCpuSeconds() - c0;
        direct.wall += Seconds(t0, Clock::now());
      }
    }
    if (!engineOnly && !rawOnly) Shapes(*engineConn, raw, rows, std::min(rows, 20000));
    sqlite3_close(raw);
    if (!rawOnly && !std::getenv("PV_BENCH_SHAPE")) {  // one shape leaves its rows
      auto check = engineConn->Query("Select Count(*) From Names");
      if (!check->Next() || check->Get(0).AsInteger() != rows) {
        std::fprintf(stderr, "the engine lost rows\n");
        return 2;
      }
    }
    std::printf(
        "Names INSERTs, %d rows, autocommit, one statement each (chunks of %d, taking turns):\n",
        rows, chunk);
    std::printf("                     wall rows/s   CPU rows/s\n");
    std::printf("  raw SQLite C API : %11.0f  %11.0f\n", rows / direct.wall, rows / direct.cpu);
    std::printf("  embedded engine  : %11.0f  %11.0f\n", rows / engine.wall, rows / engine.cpu);
    std::printf("  engine / raw     : %10.1f%%  %10.1f%%   (target >= 70%%)\n",
                100.0 * direct.wall / engine.wall, 100.0 * direct.cpu / engine.cpu);
    if (engineOnly || rawOnly) return 0;

    // The photo.
    const std::size_t size = 10 * 1024 * 1024;
    const fs::path photo = work / "photo.jpg";
    pv::db::Bytes original(size);
    {
      std::mt19937 gen(1);
      for (auto& b : original) b = static_cast<std::uint8_t>(gen() & 0xff);
      std::ofstream(photo, std::ios::binary)
          .write(reinterpret_cast<const char*>(original.data()),
                 static_cast<std::streamsize>(size));
    }
    auto c = OpenEngine(root, "Bench");
    // Medians of several rounds; a store may include the checkpoint that
    // copies the log into the database file, as it does in service.
    constexpr int kRounds = 9;
    std::vector<double> store, read, storeCpu, readCpu, allCpu;
    for (int i = 0; i < kRounds; ++i) {
      c->Close();  // finishes the checkpoint of the previous round
      c->Open(ConnectionParams{"localhost", "1433", "sa", "", "Bench"});
      auto t0 = Clock::now();
      double c0 = ThreadCpuSeconds();
      double p0 = ProcessCpuSeconds();
      if (!c->StoreFileInColumn("Names", "photo", 1, photo)) return 2;
      auto t1 = Clock::now();
      double c1 = ThreadCpuSeconds();
      auto q = c->Query("Select photo From Names Where id = 1", pv::db::Cursor::Keyset);
      const bool found = q->Next();
      auto t2 = Clock::now();
      double c2 = ThreadCpuSeconds();
      const bool same = found && q->Get(0).AsBinary() == original;
      const double compareCpu = ThreadCpuSeconds() - c2;
      q.reset();
      c->Close();  // waits for the checkpoint of this round
      allCpu.push_back(ProcessCpuSeconds() - p0 - compareCpu);
      if (!same) {
        std::fprintf(stderr, "the photo came back different\n");
        return 2;
      }
      store.push_back(Seconds(t0, t1));
      read.push_back(Seconds(t1, t2));
      storeCpu.push_back(c1 - c0);
      readCpu.push_back(c2 - c1);
    }
    auto median = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return v[v.size() / 2];
    };
    const double mb = static_cast<double>(size) / 1e6;
    const double s = median(store), r = median(read);
    const double sc = median(storeCpu), rc = median(readCpu), ac = median(allCpu);
    std::printf("10 MB photo (%.1f MB), median of %d rounds:   wall            thread CPU\n", mb,
                kRounds);
    std::printf("  store (StoreFileInColumn): %7.1f ms %6.0f MB/s  %6.1f ms %6.0f MB/s\n", s * 1e3,
                mb / s, sc * 1e3, mb / sc);
    std::printf("  read back (Query)        : %7.1f ms %6.0f MB/s  %6.1f ms %6.0f MB/s\n", r * 1e3,
                mb / r, rc * 1e3, mb / rc);
    std::printf(
        "  store + read             : %7.1f ms %6.0f MB/s  %6.1f ms %6.0f MB/s  "
        "(target >= 200 MB/s)\n",
        (s + r) * 1e3, mb / (s + r), (sc + rc) * 1e3, mb / (sc + rc));
    std::printf("  whole process, checkpoint included: CPU %.1f ms, %.0f MB/s\n", ac * 1e3,
                mb / ac);
  } catch (const pv::db::DbError& e) {
    std::fprintf(stderr, "failed: %ld %s\n", e.number(), e.description().c_str());
    fs::remove_all(work);
    return 1;
  }
  fs::remove_all(work);
  return 0;
}
