// Runs the real pvsql binary against instances under a private data root.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "schema/sql_scripts.h"
#include "tests/support/temp_dir.h"

namespace {

using pv::testing::ReadFile;
using pv::testing::WriteFile;

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

class PvsqlTest : public ::testing::Test {
 protected:
  // Runs pvsql with `args` and `input` on standard input; the data root is
  // given with --root unless `env` sets the environment instead.
  Result Run(const std::vector<std::string>& args, const std::string& input = {},
             const std::string& env = {}) {
    std::string cmd = env.empty() ? ShellQuote(PVSQL_BINARY) + " --root " + ShellQuote(dir_ / "sql")
                                  : "env " + env + " " + ShellQuote(PVSQL_BINARY);
    for (const std::string& a : args) cmd += " " + ShellQuote(a);
    WriteFile(dir_ / "stdin.txt", input);
    cmd += " <" + ShellQuote(dir_ / "stdin.txt") + " >" + ShellQuote(dir_ / "stdout.txt") + " 2>" +
           ShellQuote(dir_ / "stderr.txt");
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir_ / "stdout.txt"),
            ReadFile(dir_ / "stderr.txt")};
  }

  // What a query on "Portavento" prints without headers and row counts.
  std::string Bare(const std::string& sql) {
    return Run({"-d", "Portavento", "-h", "-1", "-W", "-Q", "set nocount on; " + sql}).out;
  }

  // pvsql fails (status 1) with a message on stderr that starts with `start`.
  ::testing::AssertionResult FailsWith(const std::vector<std::string>& args,
                                       const std::string& start) {
    const Result r = Run(args);
    if (r.exitCode == 1 && r.err.rfind(start, 0) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "status " << r.exitCode << ", stderr: " << r.err;
  }

  // An instance on port 1433 with an empty database "Portavento".
  void MakePortavento() {
    ASSERT_EQ(Run({"--create-instance"}).exitCode, 0);
    Result r = Run({"-Q", "Create Database Portavento"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }

  pv::testing::TempDir dir_;
};

TEST_F(PvsqlTest, InstancesLoginsAndOfflineStatesBehaveLikeAServer) {
  EXPECT_TRUE(FailsWith({"-Q", "select 1"}, "Msg 17, "));
  MakePortavento();
  ASSERT_EQ(Run({"--create-instance"}).exitCode, 0);  // kept as it is
  EXPECT_EQ(Bare("select 1 + 1"), "2\n");
  EXPECT_EQ(Run({"-S", "localhost,1500", "-Q", "select 1"}).exitCode, 1);  // another instance

  ASSERT_EQ(Run({"--set-login", "sa", "s3cret"}).exitCode, 0);
  EXPECT_TRUE(FailsWith({"-Q", "select 1"}, "Msg 18456, Level 14,"));
  EXPECT_EQ(Run({"-P", "s3cret", "-Q", "select 1"}).exitCode, 0);
  ASSERT_EQ(Run({"--set-login", "operator", "pw"}).exitCode, 0);
  EXPECT_EQ(Run({"-U", "operator", "-P", "pw", "-d", "Portavento", "-Q", "select 1"}).exitCode, 0);

  ASSERT_EQ(Run({"--offline"}).exitCode, 0);
  EXPECT_TRUE(FailsWith({"-P", "s3cret", "-Q", "select 1"}, "Msg 17,"));
  ASSERT_EQ(Run({"--online"}).exitCode, 0);
  EXPECT_EQ(Run({"-P", "s3cret", "-Q", "select 1"}).exitCode, 0);
  EXPECT_EQ(Run({"-S", "localhost,1600", "--offline"}).exitCode, 1);  // no such instance

  // Without --root: the service's application-data folder.
  const std::string env = "PVREMOTE_ROOT=" + ShellQuote(dir_.path());
  ASSERT_EQ(Run({"-S", "localhost,1444", "--create-instance"}, {}, env).exitCode, 0);
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "var/lib/pvremote/sql/localhost,1444"));
  EXPECT_EQ(Run({"-S", "localhost,1444", "-Q", "select 1"}, {}, env).exitCode, 0);
}

TEST_F(PvsqlTest, ScriptsRunBatchByBatchAndResultsPrintLikeSqlcmd) {
  MakePortavento();
  Result r = Run({"-d", "Portavento", "-i", pv::schema::SqlScriptPath(pv::schema::kLocalScript)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.err.empty());

  WriteFile(dir_ / "fill.sql",
            "Insert Into Names (resType, lastName, firstName, hide, photo)\n"
            "Values ('R', 'O''Brien', 'Ann', 'True', 0x0102FF);\n"
            "Insert Into Names (resType, lastName, hide) Values ('S', 'Desk', 'False')\nGO\n"
            "Insert Into UpdateQueue (tableName, resId, recordId) Values ('NamesU', 1, 0)\ngo 2\n");
  r = Run({"-S", "localhost,1433", "-d", "Portavento", "-i", dir_ / "fill.sql"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "\n(1 rows affected)\n\n(1 rows affected)\n\n(1 rows affected)\n"
            "\n(1 rows affected)\n");

  r = Run({"-d", "Portavento", "-h", "-1", "-W", "-s", ",", "-Q",
           "SET NOCOUNT ON; Select id, lastName, firstName, hide, photo From Names Order By id"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "1,O'Brien,Ann,1,0x0102FF\n2,Desk,NULL,0,NULL\n");

  r = Run({"-d", "Portavento", "-W", "-s", "|", "-Q",
           "Select id, tableName From UpdateQueue Order By id"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "id|tableName\n--|---------\n1|NamesU\n2|NamesU\n\n(2 rows affected)\n");

  // Columns are as wide as their name or widest value; numbers go right.
  r = Run({"-d", "Portavento", "-Q",
           "create table t (id int, name nvarchar(20), d datetime);"
           "insert into t values (7, 'seven', '2026-12-04T13:05:09');"
           "insert into t values (12345, Null, Null);"
           "select id, name, d from t order by id"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "\n(1 rows affected)\n\n(1 rows affected)\n"
            "id    name  d                      \n"
            "----- ----- -----------------------\n"
            "    7 seven 2026-12-04 13:05:09.000\n"
            "12345 NULL  NULL                   \n"
            "\n(2 rows affected)\n");

  // Expressions without a name print an empty header, as sqlcmd prints them.
  r = Run({"-d", "Portavento", "-s", "|", "-Q",
           "select count(*), max(name) as m, N'Élodie' from t where name like N'SEV%'"});
  EXPECT_EQ(r.out, " |m    |      \n-|-----|------\n1|seven|Élodie\n\n(1 rows affected)\n");

  // Standard input is a script too.
  r = Run({"-d", "Portavento", "-h", "-1", "-W"},
          "set nocount on\nGO\nselect count(*) from Names\nGO\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "2\n");
}

TEST_F(PvsqlTest, FailuresGiveTheMessageOnStderrAndANonZeroStatus) {
  MakePortavento();
  EXPECT_TRUE(FailsWith({"-d", "Portavento", "-Q", "select * from Nope"},
                        "Msg 208, Level 16, State 1, Server localhost,1433, Line 1\n"
                        "Invalid object name 'Nope'."));

  // A failing batch does not stop the next one unless -b is given.
  WriteFile(dir_ / "two.sql",
            "create table a (x int)\nGO\n\ninsert into nope values (1)\nGO\n"
            "create table b (x int)\nGO\n");
  Result r = Run({"-d", "Portavento", "-b", "-i", dir_ / "two.sql"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Line 4"), std::string::npos) << r.err;
  const std::string tableB = "select count(*) from sysobjects where name = 'b'";
  EXPECT_EQ(Bare(tableB), "0\n");
  ASSERT_EQ(Run({"-d", "Portavento", "-Q", "drop table a"}).exitCode, 0);
  EXPECT_EQ(Run({"-d", "Portavento", "-i", dir_ / "two.sql"}).exitCode, 1);
  EXPECT_EQ(Bare(tableB), "1\n");

  // A missing database, a missing file and a bad command line.
  EXPECT_TRUE(FailsWith({"-d", "NoSuchDb", "-Q", "select 1"}, "Msg 4060,"));
  EXPECT_EQ(Run({"-i", dir_ / "missing.sql"}).exitCode, 2);
  r = Run({"-S", "localhost,notaport"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_FALSE(r.err.empty());
}

}  // namespace
