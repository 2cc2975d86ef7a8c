// Runs the real pvsql binary against instances under a private data root.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "schema/sql_scripts.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  std::string line;
  while (std::getline(ss, line)) lines.push_back(line);
  return lines;
}

class PvsqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    dir_ = fs::path(::testing::TempDir()) /
           ("pv_pvsql_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    root_ = dir_ / "sql";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Runs pvsql with `args` (and --root unless `prefix` sets the environment
  // instead) and optional standard input.
  Result Run(const std::vector<std::string>& args, const std::string& input = {},
             const std::string& prefix = {}) {
    std::string cmd = prefix.empty()
                          ? ShellQuote(PVSQL_BINARY) + " --root " + ShellQuote(root_.string())
                          : prefix + " " + ShellQuote(PVSQL_BINARY);
    for (const std::string& a : args) cmd += " " + ShellQuote(a);
    const fs::path in = dir_ / "stdin.txt";
    const fs::path out = dir_ / "stdout.txt";
    const fs::path err = dir_ / "stderr.txt";
    std::ofstream(in, std::ios::binary) << input;
    cmd += " <" + ShellQuote(in.string()) + " >" + ShellQuote(out.string()) + " 2>" +
           ShellQuote(err.string());
    const int status = std::system(cmd.c_str());
    Result r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadAll(out);
    r.err = ReadAll(err);
    return r;
  }

  // An instance on port 1433 with an empty database "Portavento".
  void MakePortavento() {
    ASSERT_EQ(Run({"--create-instance"}).exitCode, 0);
    Result r = Run({"-Q", "Create Database Portavento"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }

  fs::path dir_;
  fs::path root_;
};

TEST_F(PvsqlTest, ConnectingNeedsACreatedInstance) {
  Result r = Run({"-Q", "select 1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("Msg 17, ", 0), 0u) << r.err;
  EXPECT_TRUE(r.out.empty());

  ASSERT_EQ(Run({"--create-instance"}).exitCode, 0);
  ASSERT_EQ(Run({"--create-instance"}).exitCode, 0);  // kept as it is
  r = Run({"-h", "-1", "-W", "-Q", "set nocount on; select 1 + 1"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "2\n");

  // Another port is another instance.
  EXPECT_EQ(Run({"-S", "localhost,1500", "-Q", "select 1"}).exitCode, 1);
}

TEST_F(PvsqlTest, ScriptsRunBatchByBatchAndQueriesPrintForScripts) {
  MakePortavento();
  Result r = Run({"-d", "Portavento", "-i", pv::schema::SqlScriptPath(pv::schema::kLocalScript)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.err.empty());

  const fs::path fill = dir_ / "fill.sql";
  std::ofstream(fill) << "Insert Into Names (resType, lastName, firstName, hide, photo)\n"
                         "Values ('R', 'O''Brien', 'Ann', 'True', 0x0102FF);\n"
                         "Insert Into Names (resType, lastName, hide) Values ('S', 'Desk', "
                         "'False')\n"
                         "GO\n"
                         "Insert Into UpdateQueue (tableName, resId, recordId) Values ('NamesU', "
                         "1, 0)\n"
                         "go 2\n";
  r = Run({"-S", "localhost,1433", "-d", "Portavento", "-i", fill.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "\n(1 rows affected)\n\n(1 rows affected)\n\n(1 rows affected)\n"
            "\n(1 rows affected)\n");

  r = Run({"-d", "Portavento", "-h", "-1", "-W", "-s", ",", "-Q",
           "SET NOCOUNT ON; Select id, lastName, firstName, hide, photo From Names Order By id"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out),
            (std::vector<std::string>{"1,O'Brien,Ann,1,0x0102FF", "2,Desk,NULL,0,NULL"}));

  r = Run({"-d", "Portavento", "-W", "-s", "|", "-Q",
           "Select id, tableName From UpdateQueue Order By id"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"id|tableName", "--|---------", "1|NamesU",
                                                    "2|NamesU", "", "(2 rows affected)"}));

  // Standard input is a script too.
  r = Run({"-d", "Portavento", "-h", "-1", "-W"},
          "set nocount on\nGO\nselect count(*) from Names\nGO\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "2\n");
}

TEST_F(PvsqlTest, ResultSetsAreAlignedLikeSqlcmd) {
  MakePortavento();
  Result r = Run({"-d", "Portavento", "-Q",
                  "create table t (id int, name nvarchar(20), d datetime);"
                  "insert into t values (7, 'seven', '2026-12-04T13:05:09');"
                  "insert into t values (12345, Null, Null);"
                  "select id, name, d from t order by id"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{
                              "",
                              "(1 rows affected)",
                              "",
                              "(1 rows affected)",
                              "id    name  d                      ",
                              "----- ----- -----------------------",
                              "    7 seven 2026-12-04 13:05:09.000",
                              "12345 NULL  NULL                   ",
                              "",
                              "(2 rows affected)",
                          }));
}

TEST_F(PvsqlTest, FailuresGiveTheMessageOnStderrAndANonZeroStatus) {
  MakePortavento();
  Result r = Run({"-d", "Portavento", "-Q", "select * from Nope"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("Msg 208, Level 16, State 1, Server localhost,1433, Line 1\n", 0), 0u)
      << r.err;
  EXPECT_NE(r.err.find("Nope"), std::string::npos);

  // A failing batch does not stop the next one unless -b is given.
  const fs::path script = dir_ / "two.sql";
  std::ofstream(script) << "create table a (x int)\nGO\n\ninsert into nope values (1)\nGO\n"
                           "create table b (x int)\nGO\n";
  r = Run({"-d", "Portavento", "-b", "-i", script.string()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Line 4"), std::string::npos) << r.err;
  r = Run({"-d", "Portavento", "-h", "-1", "-W", "-Q",
           "set nocount on; select count(*) from sysobjects where name = 'b'"});
  EXPECT_EQ(r.out, "0\n");
  r = Run({"-d", "Portavento", "-Q", "drop table a"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Run({"-d", "Portavento", "-i", script.string()});
  EXPECT_EQ(r.exitCode, 1);
  r = Run({"-d", "Portavento", "-h", "-1", "-W", "-Q",
           "set nocount on; select count(*) from sysobjects where name = 'b'"});
  EXPECT_EQ(r.out, "1\n");

  // A missing database, a missing file and a bad command line.
  r = Run({"-d", "NoSuchDb", "-Q", "select 1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("Msg 4060,", 0), 0u) << r.err;
  EXPECT_EQ(Run({"-i", (dir_ / "missing.sql").string()}).exitCode, 2);
  r = Run({"-S", "localhost,notaport"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_FALSE(r.err.empty());
}

TEST_F(PvsqlTest, LoginsAndOfflineInstancesBehaveLikeAServer) {
  MakePortavento();
  ASSERT_EQ(Run({"--set-login", "sa", "s3cret"}).exitCode, 0);
  Result r = Run({"-Q", "select 1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("Msg 18456, Level 14,", 0), 0u) << r.err;
  EXPECT_EQ(Run({"-P", "s3cret", "-Q", "select 1"}).exitCode, 0);

  ASSERT_EQ(Run({"--set-login", "operator", "pw"}).exitCode, 0);
  EXPECT_EQ(Run({"-U", "operator", "-P", "pw", "-d", "Portavento", "-Q", "select 1"}).exitCode, 0);

  ASSERT_EQ(Run({"--offline"}).exitCode, 0);
  r = Run({"-P", "s3cret", "-Q", "select 1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("Msg 17,", 0), 0u) << r.err;
  ASSERT_EQ(Run({"--online"}).exitCode, 0);
  EXPECT_EQ(Run({"-P", "s3cret", "-Q", "select 1"}).exitCode, 0);

  // Instance commands on a missing instance fail.
  EXPECT_EQ(Run({"-S", "localhost,1600", "--offline"}).exitCode, 1);
}

TEST_F(PvsqlTest, DefaultDataRootIsTheServicesApplicationDataFolder) {
  const std::string env = "env PVREMOTE_ROOT=" + ShellQuote(dir_.string());
  ASSERT_EQ(Run({"-S", "localhost,1444", "--create-instance"}, {}, env).exitCode, 0);
  EXPECT_TRUE(fs::is_directory(dir_ / "var/lib/pvremote/sql/localhost,1444"));
  EXPECT_EQ(Run({"-S", "localhost,1444", "-Q", "select 1"}, {}, env).exitCode, 0);
}

}  // namespace
