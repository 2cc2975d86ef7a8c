// Committed statements survive a killed process, and several connections
// (the service, pvsql, the central simulator) share the files at once.
#include <sqlite3.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <csignal>
#include <thread>

#include "db/embedded/instance.h"
#include "tests/support/embedded_instance.h"

namespace pv::db::embedded {
namespace {

using namespace pv::testing;  // the embedded instance and its helpers
using SharedFiles = pv::testing::EmbeddedTest;

#ifndef _WIN32  // the killed writer is a forked child
TEST_F(SharedFiles, ACommittedStatementSurvivesAKilledProcess) {
  {
    auto c = Connect();
    c->Execute("Create Table T (id int, note nvarchar(20)); Insert Into T Values (1, 'before')");
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The child writes while it still walks a rowset, then dies without
    // closing anything.
    try {
      auto c = Connect();
      auto rows = c->Query("Select id From T");
      rows->Next();
      c->Execute("Insert Into T (id, note) Values (2, 'committed')");
      c->Execute("Update T Set note = 'changed' Where id = 1");
      std::raise(SIGKILL);
    } catch (...) {
    }
    _exit(3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "child exit " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGKILL);

  auto c = Connect();
  auto rows = c->Query("Select id, note From T Order By id");
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get("note").AsTextRef(), "changed");
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get("id").AsInteger(), 2);
  EXPECT_EQ(rows->Get("note").AsTextRef(), "committed");
  EXPECT_FALSE(rows->Next());
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
