// Committed statements survive a killed process, a failed write is reported
// and leaves nothing half done, and several connections (the service, pvsql,
// the central simulator) share the files at once.
#include <sqlite3.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cctype>
#include <chrono>
#include <csignal>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "db/embedded/instance.h"
#include "tests/support/embedded_instance.h"

namespace pv::db::embedded {
namespace {

using namespace pv::testing;  // the embedded instance and its helpers
using SharedFiles = pv::testing::EmbeddedTest;

TEST_F(SharedFiles, AFailedStatementInATransactionRollsItBackSoLaterStatementsCommit) {
  auto c = Connect();
  c->Execute("Create Table T (id int NOT NULL PRIMARY KEY)");
  EXPECT_EQ(DbErrorOf([&] {
              c->Execute("Begin Tran; Insert Into T Values (1); Insert Into T Values (1); Commit");
            }),
            2627);
  EXPECT_EQ(c->Execute("Insert Into T (id) Values (2)"), 1);  // reported done: committed
  EXPECT_EQ(Scalar(*Connect(), "Select Count(*) From T Where id = 2").AsInteger(), 1);
  EXPECT_EQ(DbErrorOf([&] { c->Execute("Commit"); }), 3902);  // nothing left of the failed batch
}

#ifndef _WIN32  // the writers are forked children
// A child process running `body` with `report` open for its lines (written
// straight to the file, so a kill loses none); it ends when body returns.
template <class F>
pid_t Fork(const std::string& report, F body) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(report.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    try {
      body(fd);
    } catch (...) {
    }
    _exit(0);
  }
  return pid;
}

// The numbers a child printed, one a line; its other lines in `rest`.
std::vector<long> Printed(const std::string& report, std::string* rest = nullptr) {
  std::vector<long> ids;
  std::istringstream lines(ReadFile(report));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
      ids.push_back(std::stol(line));
    } else if (rest) {
      *rest += line;
    }
  }
  return ids;
}

std::string Insert(long id, const std::string& note) {
  return "Insert Into T (id, note) Values (" + std::to_string(id) + ", '" + note + "')";
}

TEST_F(SharedFiles, EveryStatementReportedDoneSurvivesAKillAtAnyMoment) {
  Connect()->Execute("Create Table T (id int NOT NULL PRIMARY KEY, note nvarchar(max))");
  const std::string note(3000, 'k');  // a page a row or so: the log is copied back now and then
  const std::string report = (root_ / "done.txt").string();
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  for (long round = 0; round < 5; ++round) {
    const pid_t child = Fork(report, [&](int out) {
      auto c = Connect();
      for (long id = round * 1000000 + 1;; ++id) {
        c->Execute(Insert(id, note));
        dprintf(out, "%ld\n", id);  // only once Execute returned
      }
    });
    ASSERT_GT(child, 0);
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(50, 600)(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself, seed " << seed;
  }
  auto c = Connect();
  std::set<long> stored;
  for (auto rows = c->Query("Select id From T"); rows->Next();) {
    stored.insert(rows->Get(0).AsInteger());
  }
  const std::vector<long> done = Printed(report);
  for (long id : done) EXPECT_EQ(stored.count(id), 1U) << id << " lost, seed " << seed;
  EXPECT_GE(stored.size(), done.size());
  EXPECT_EQ(Scalar(*c, "PRAGMA integrity_check").AsTextRef(), "ok");
}

TEST_F(SharedFiles, AFullDiskFailsTheStatementWith1105AndKeepsEveryEarlierRow) {
  // 9 MB in the database file, files of at most 10 MB: the log fills, its
  // copy into the database file fails as that cannot grow, and the log goes
  // on taking commits until one no longer fits.
  Connect()->Execute(
      "Create Table T (id int NOT NULL PRIMARY KEY, note nvarchar(max));"
      "Create Table Filler (b varbinary(max)); Insert Into Filler Values (randomblob(9000000))");
  const std::string note(20000, 'f');
  const std::string report = (root_ / "done.txt").string();
  const pid_t child = Fork(report, [&](int out) {
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails (EFBIG) instead
    const rlimit limit{10 << 20, 10 << 20};
    setrlimit(RLIMIT_FSIZE, &limit);
    auto c = Connect();
    for (long id = 1; id < 100000; ++id) {
      try {
        c->Execute(Insert(id, note));
      } catch (const DbError& e) {
        dprintf(out, "failed %ld %s\n", e.number(), e.description().c_str());
        return;
      }
      dprintf(out, "%ld\n", id);
    }
  });
  ASSERT_GT(child, 0);
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 3000 && (ended = waitpid(child, &status, WNOHANG)) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (ended == 0) {  // still writing after a minute: the checks below fail
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  std::string failure;
  const std::vector<long> done = Printed(report, &failure);
  EXPECT_EQ(failure.rfind("failed 1105 Could not allocate space for object 'dbo.T' in database "
                          "'Portavento' because the 'PRIMARY' filegroup is full.",
                          0),
            0U)
      << failure;
  ASSERT_FALSE(done.empty());

  // Without the limit: every row reported done is there whole, the failed
  // one not at all, and the database takes new rows.
  auto c = Connect();
  EXPECT_EQ(Scalar(*c, "Select Count(*) From T").AsInteger(), static_cast<long>(done.size()));
  EXPECT_EQ(Scalar(*c, "Select Max(id) From T").AsInteger(), done.back());
  EXPECT_EQ(Scalar(*c, "Select Count(*) From T Where Len(note) <> 20000").AsInteger(), 0);
  EXPECT_EQ(c->Execute(Insert(done.back() + 1, note)), 1);
  EXPECT_EQ(Scalar(*c, "PRAGMA integrity_check").AsTextRef(), "ok");
}
#endif

TEST_F(SharedFiles, TwoConnectionsWritingAtOnceBothSucceed) {
  Connect()->Execute("Create Table T (id int NOT NULL, who int NOT NULL)");
  constexpr int kRows = 300;
  auto writer = [this](int who, std::string* failure) {
    try {
      auto c = Connect();
      for (int i = 0; i < kRows; ++i) {
        c->Execute("Insert Into T (id, who) Values (" + std::to_string(i) + ", " +
                   std::to_string(who) + ")");
        auto rows = c->Query("Select Count(*) From T Where who = " + std::to_string(who));
        if (!rows->Next() || rows->Get(0).AsInteger() != i + 1) *failure = "count mismatch";
      }
    } catch (const DbError& e) {
      *failure = std::to_string(e.number()) + " " + e.description();
    }
  };
  std::string f1, f2;
  std::thread t1(writer, 1, &f1);
  std::thread t2(writer, 2, &f2);
  t1.join();
  t2.join();
  EXPECT_EQ(f1 + f2, "");  // neither writer failed
  auto c = Connect();
  EXPECT_EQ(Scalar(*c, "Select Count(*) From T").AsInteger(), 2 * kRows);
}

TEST_F(SharedFiles, AWriterWaitsForAnotherProgramsLockUpToTheCommandTimeout) {
  auto c = Connect();
  c->Execute("Create Table T (id int NOT NULL)");
  const auto file = InstanceFolder(root_, "localhost", "1433") / "Portavento.sqlite";
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(file.string().c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE; INSERT INTO T (id) VALUES (100);", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);

  // A lock held briefly is waited for.
  std::thread release([other] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  });
  c->SetCommandTimeout(10);
  EXPECT_EQ(c->Execute("Insert Into T (id) Values (1)"), 1);
  release.join();

  // A lock held past the command timeout fails the statement, not the connection.
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  c->SetCommandTimeout(1);
  EXPECT_EQ(DbErrorOf([&] { c->Execute("Insert Into T (id) Values (2)"); }), kErrLockTimeout);
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(c->Execute("Insert Into T (id) Values (3)"), 1);
  EXPECT_EQ(Scalar(*c, "Select Count(*) From T").AsInteger(), 3);
}

TEST_F(SharedFiles, TheLogOfALargeStoreIsCopiedIntoTheDatabaseFile) {
  auto other = Connect();  // keeps the log from being folded in at the last close
  auto c = Connect();
  c->Execute("Create Table Names (id int NOT NULL, photo image NULL)");
  c->Execute("Insert Into Names (id) Values (1)");
  const auto photo = RandomFile("photo.jpg", 12 * 1024 * 1024);
  const auto file = InstanceFolder(root_, "localhost", "1433") / "Portavento.sqlite";
  const auto before = std::filesystem::file_size(file);
  ASSERT_TRUE(c->StoreFileInColumn("Names", "photo", 1, photo));
  c->Close();  // waits for the checkpoint the store asked for
  EXPECT_GE(std::filesystem::file_size(file), before + 12 * 1024 * 1024);
  auto rows = other->Query("Select photo From Names");
  ASSERT_TRUE(rows->Next());
  EXPECT_TRUE(rows->Get(0).AsBinary() == FileBytes(photo));
}

}  // namespace
}  // namespace pv::db::embedded
