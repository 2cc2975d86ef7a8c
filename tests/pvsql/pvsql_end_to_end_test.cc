// Runs the real pvsql binary against instances under a private data root.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

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
    // From the test's folder: relative names (:r) start there.
    std::string cmd = "cd " + ShellQuote(dir_.path()) + " && ";
    cmd += env.empty() ? ShellQuote(PVSQL_BINARY) + " --root " + ShellQuote(dir_ / "sql")
                       : "env " + env + " " + ShellQuote(PVSQL_BINARY);
    for (const std::string& a : args) cmd += " " + ShellQuote(a);
    WriteFile(dir_ / "stdin.txt", input);
    cmd += " <" + ShellQuote(dir_ / "stdin.txt") + " >" + ShellQuote(dir_ / "stdout.txt") + " 2>" +
           ShellQuote(dir_ / "stderr.txt");
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(dir_ / "stdout.txt"),
            ReadFile(dir_ / "stderr.txt")};
  }

  // Runs pvsql on a terminal of its own; `typed` answers its password
  // prompt. Returns what the terminal showed.
  std::string RunOnTerminal(const std::vector<std::string>& args, const std::string& typed) {
    std::vector<std::string> all = {PVSQL_BINARY, "--root", dir_ / "sql"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
      execv(PVSQL_BINARY, argv.data());
      _exit(127);
    }
    std::string shown;
    bool answered = false;
    char buf[256];
    pollfd p{terminal, POLLIN, 0};
    while (pid > 0 && poll(&p, 1, 30000) > 0) {
      const ssize_t n = read(terminal, buf, sizeof buf);
      if (n <= 0) break;  // the program is gone
      shown.append(buf, static_cast<std::size_t>(n));
      if (!answered && shown.find("Password: ") != std::string::npos) {
        answered = write(terminal, typed.data(), typed.size()) > 0;
      }
    }
    close(terminal);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    return shown;
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
  EXPECT_NE(Run({}).err.find("in " + dir_ / "sql/localhost,1433 "), std::string::npos);
  MakePortavento();
  ASSERT_EQ(Run({"--create-instance"}).exitCode, 0);  // kept as it is
  EXPECT_EQ(Bare("select 1 + 1"), "2\n");
  EXPECT_EQ(Run({"-S", "localhost,1500", "-Q", "select 1"}).exitCode, 1);  // another instance

  ASSERT_EQ(Run({"--set-login", "sa", "s3cret"}).exitCode, 0);
  EXPECT_TRUE(FailsWith({"-Q", "select 1"}, "Msg 18456, Level 14,"));
  EXPECT_EQ(Run({"-P", "s3cret", "-Q", "select 1"}).exitCode, 0);
  ASSERT_EQ(Run({"--set-login", "operator", "pw"}).exitCode, 0);
  EXPECT_EQ(Run({"-U", "operator", "-P", "pw", "-d", "Portavento", "-Q", "select 1"}).exitCode, 0);
  // -U without -P on a terminal: the password is asked for first and not
  // shown; the script may follow on the same terminal.
  const std::string shown =
      RunOnTerminal({"-U", "operator", "-h", "-1", "-W"}, "pw\nselect 40 + 2\n\x04");
  EXPECT_TRUE(shown.starts_with("Password: \r\n") && shown.find("pw") == std::string::npos &&
              shown.ends_with("42\r\n\r\n(1 rows affected)\r\n"))
      << shown;
  // Without -P: SQLCMDPASSWORD, else (no terminal to ask) an empty password.
  EXPECT_TRUE(FailsWith({"-U", "operator", "-Q", "select 1"}, "Msg 18456, Level 14,"));
  EXPECT_EQ(
      Run({"--root", dir_ / "sql", "-U", "operator", "-Q", "select 1"}, {}, "SQLCMDPASSWORD=pw")
          .exitCode,
      0);

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
  EXPECT_NE(r.err.find("Line 2\n"), std::string::npos) << r.err;  // within its batch
  const std::string tableB = "select count(*) from sysobjects where name = 'b'";
  EXPECT_EQ(Bare(tableB), "0\n");
  ASSERT_EQ(Run({"-d", "Portavento", "-Q", "drop table a"}).exitCode, 0);
  EXPECT_EQ(Run({"-d", "Portavento", "-i", dir_ / "two.sql"}).exitCode, 1);
  EXPECT_EQ(Bare(tableB), "1\n");

  // A missing database, a missing file and a bad command line.
  EXPECT_TRUE(FailsWith({"-d", "NoSuchDb", "-Q", "select 1"}, "Msg 4060, Level 11,"));
  // Syntax errors: nothing of a batch that cannot be cut runs.
  for (const auto& [sql, start] : std::vector<std::pair<std::string, std::string>>{
           {"select 1\nselect 'a\nb'\nselect (1",
            "Msg 102, Level 15, State 1, Server "
            "localhost,1433, Line 4\n"},
           {"select 1\nselect 2)\nselect 3",
            "Msg 102, Level 15, State 1, Server "
            "localhost,1433, Line 2\n"},
           {"select 1\n\nselect 'x", "Msg 105, Level 15, State 1, Server localhost,1433, Line 3\n"},
       }) {
    EXPECT_TRUE(FailsWith({"-Q", sql}, start)) << sql;
    EXPECT_EQ(Run({"-Q", sql}).out, "");
  }
  EXPECT_EQ(Run({"-i", dir_ / "missing.sql"}).exitCode, 2);
  EXPECT_EQ(Run({"-i", dir_.path()}).exitCode, 2);  // a folder
  r = Run({"-S", "localhost,notaport"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_FALSE(r.err.empty());
}

// sqlcmd's script commands and variables, scripts in UTF-16, -o and -e:
// each case runs pvsql on a script given on standard input.
TEST_F(PvsqlTest, ScriptsTakeSqlcmdsCommandsVariablesAndEncodings) {
  MakePortavento();
  WriteFile(dir_ / "sub/names.sql", ":setvar who \"the world\"\nselect '$(who)'\nGO\nselect 3\n");
  const std::string utf16le("\xFF\xFEs\0e\0l\0e\0c\0t\0 \0'\0\xE9\0'\0", 22);
  const std::string utf16be("\xFE\xFF\0s\0e\0l\0e\0c\0t\0 \0'\0\xE9\0'", 22);
  WriteFile(dir_ / "le.sql", utf16le);
  struct Case {
    Case(std::vector<std::string> a, std::string s, std::string o, std::string e = {}, int x = 0)
        : args(std::move(a)),
          script(std::move(s)),
          out(std::move(o)),
          err(std::move(e)),
          status(x) {}
    std::vector<std::string> args;
    std::string script, out, err;
    int status;
  };
  const std::string kOneRow = "\n(1 rows affected)\n";
  const std::vector<Case> cases = {
      // Every result set of a batch, also without a ';' between statements.
      {{},
       "Select 1 As a\nSelect 2 As b\nGO\nselect 3 insert into t values (1)",
       "1\n2\n3\n",
       "Msg 208, Level 16, State 1, Server localhost,1433, Line 1\nInvalid object name 't'.\n",
       1},
      // UTF-16 with a byte-order mark, from -i and from standard input; UTF-8's mark.
      {{"-i", "le.sql"}, "", "\xC3\xA9\n" + kOneRow},
      {{}, utf16be, "\xC3\xA9\n" + kOneRow},
      {{}, "\xEF\xBB\xBFselect 1", "1\n" + kOneRow},
      // :r from the current folder (not the script's), its GO ending a batch.
      {{}, "select 0\n:r sub/names.sql\n+ 4", "0\nthe world\n7\n"},
      {{"-v", "a=1", "b=x y", "-v", "c=2"},
       "select $(a) + $(c), '$(b)'\n:setvar a 5\nselect $(A)",
       "3 x y\n5\n"},
      {{"-x"}, "select '$(a)'", "$(a)\n"},
      {{},
       "select 1\nGO\nselect '$(no_such_var)'\nGO\nselect 2",
       "1\n",
       "'no_such_var' scripting variable not defined.\n",
       1},
      {{}, ":r missing.sql", "", "pvsql: cannot read the script missing.sql\n", 2},
      // quit and exit stop without the open batch; exit(query) runs it.
      {{}, "select 1\nGO\nselect 2\nquit\nselect 3", "1\n"},
      {{}, "select 1\n  EXIT  \nselect 2", ""},
      {{}, "select 1\nexit(select 7 + 1)\nselect 2", "1\n8\n", "", 8},
      {{}, "select 1\n:exit()", "1\n"},
      {{"-Q", "exit(select 3)"}, "", "3\n" + kOneRow, "", 3},
      // A failed batch goes on unless -b or :on error exit says otherwise.
      {{}, "select * from nope\nGO\nselect 2", "2\n", "Msg 208,", 1},
      {{}, ":on error exit\nselect * from nope\nGO\nselect 2", "", "Msg 208,", 1},
      // Lines count within the batch; -e shows the batch first.
      {{}, "select 1\nGO\n\nselect 2;\n\n  select * from nope", "1\n2\n", "Line 4\n", 1},
      {{"-e"}, "select 5\nGO 2", "set nocount on\nselect 5\n5\n5\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-d", "Portavento", "-h", "-1", "-W"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    // Scripts that start with a byte-order mark are taken as they are.
    const bool mark = !c.script.empty() && static_cast<unsigned char>(c.script[0]) >= 0xEF;
    const Result r = Run(args, (mark ? "" : "set nocount on\nGO\n") + c.script);
    EXPECT_EQ(r.out, c.out) << c.script;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.script << "\n" << r.err;
    EXPECT_EQ(r.err.empty(), c.err.empty()) << c.script << "\n" << r.err;
    EXPECT_EQ(r.exitCode, c.status) << c.script;
  }

  // -o takes the results and the messages; nothing is left for the console.
  Result r = Run({"-d", "Portavento", "-o", "out.txt", "-Q", "select 1 as x; select * from nope"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(ReadFile(dir_ / "out.txt"),
            "x\n-\n1\n\n(1 rows affected)\nMsg 208, Level 16, State 1, Server localhost,1433, "
            "Line 1\nInvalid object name 'nope'.\n");
}

}  // namespace
