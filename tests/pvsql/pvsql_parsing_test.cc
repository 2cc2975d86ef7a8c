#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/value.h"
#include "tests/support/env.h"
#include "tests/support/temp_dir.h"
#include "tools/pvsql/batch_runner.h"
#include "tools/pvsql/data_root.h"
#include "tools/pvsql/options.h"
#include "tools/pvsql/result_printer.h"
#include "tools/pvsql/script.h"

namespace pv::pvsql {
namespace {

// The end-to-end tests give every option apart; here the forms they do not
// use, and an empty value ("-P ''") that must not swallow the next option.
TEST(PvsqlOptionsTest, SqlcmdOptionsAreReadApartOrAttached) {
  std::string error;
  auto o = ParseArguments({"-S", "tcp:db.local,14330", "-dPortavento", "-P", "", "-t", "30", "-i",
                           "a.sql,b.sql", "-ic.sql", "-h-1", "-va=1", "b=x=y", "-v", "c=", "-e"},
                          error);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->server + "," + o->port + " " + o->database, "db.local,14330 Portavento");
  EXPECT_EQ(o->timeoutSeconds, 30);
  EXPECT_EQ(o->inputFiles, (std::vector<std::string>{"a.sql", "b.sql", "c.sql"}));
  EXPECT_FALSE(o->headers);
  EXPECT_EQ(o->password, "");  // given, though empty: no prompt
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(o->variables, (Pairs{{"a", "1"}, {"b", "x=y"}, {"c", ""}}));
}

TEST(PvsqlOptionsTest, BadCommandLinesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {{"-S", "localhost,0"},
                                                     {"-S", "localhost,99999"},
                                                     {"-S", ",1433"},
                                                     {"-S", "host,12ab"},
                                                     {"-Q"},
                                                     {"-Q", "x", "-i", "f.sql"},
                                                     {"-h", "0"},
                                                     {"-h", "x"},
                                                     {"-t", "-5"},
                                                     {"-z"},
                                                     {"stray"},
                                                     {"--set-login", "sa"},
                                                     {"--offline", "--online"},
                                                     {"-s", ""},
                                                     {"-v"},
                                                     {"-v", "-b"},
                                                     {"-v", "a b=1"},
                                                     {"-v", "=1"},
                                                     {"-o"}};
  for (const auto& args : bad) {
    std::string error;
    EXPECT_FALSE(ParseArguments(args, error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

TEST(PvsqlStatementsTest, StatementsSplitAtSemicolonsAndWhereANewOneBegins) {
  const auto s = SplitStatements(
      "insert into t values ('a;b', [x;y]);\n"
      "-- a comment; still a comment\n"
      "select \"q;r\" /* c; d */ from t ;;  \n"
      "CREATE TABLE a (x int) CREATE INDEX i ON a (x);\n"
      "select 'it''s; fine'\n"
      "Select 1 As a\n"
      "Select 2 As b");
  ASSERT_EQ(s.size(), 7u);
  EXPECT_EQ(s[0].text, "insert into t values ('a;b', [x;y])");
  EXPECT_EQ(s[1].text, "select \"q;r\" /* c; d */ from t");
  EXPECT_EQ(s[4].text, "select 'it''s; fine'");
  std::vector<int> lines;
  for (const auto& statement : s) lines.push_back(statement.line);
  EXPECT_EQ(lines, (std::vector<int>{1, 3, 4, 4, 5, 6, 7}));
  EXPECT_TRUE(SplitStatements("  -- nothing\n /* at all */ ;").empty());
  // A long script is cut in linear time (its lines were once counted from
  // the start for every statement).
  std::string script;
  for (int i = 0; i < 50000; ++i) script += "select 1;\n";
  const auto many = SplitStatements(script);
  ASSERT_EQ(many.size(), 50000u);
  EXPECT_EQ(many.back().line, 50000);

  for (const char* rows :
       {" /* x */ -- y\n SELECT 1", "((select 1))", "with a as (select 1 as x) select x from a"}) {
    EXPECT_TRUE(ReturnsRows(rows)) << rows;
  }
  EXPECT_FALSE(ReturnsRows("insert into t select 1"));
  EXPECT_FALSE(ReturnsRows("selection"));
}

// Nulls, bits, numbers and binaries as the end-to-end tests print them;
// here what they do not show: milliseconds and an empty binary.
TEST(PvsqlDisplayTest, ValuesPrintAsSqlcmdShowsThem) {
  EXPECT_EQ(DisplayText(db::Value::Date({2026, 12, 4, 13, 5, 9, 120000000})),
            "2026-12-04 13:05:09.120");
  EXPECT_EQ(DisplayText(db::Value::Binary({})), "0x");
}

// SSMS and PowerShell save scripts in UTF-16 with a byte-order mark.
TEST(PvsqlScriptTest, ScriptBytesAreReadByTheirByteOrderMark) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string("\xFF\xFEs\0\xE9\0\xAC\x20", 8), "s\xC3\xA9\xE2\x82\xAC"},
      {std::string("\xFE\xFF\0s\xD8\x3D\xDE\x00", 8), "s\xF0\x9F\x98\x80"},
      {std::string("\xFF\xFE"
                   "a\0b",
                   5),
       "a\xEF\xBF\xBD"},  // a lone last byte
      {"\xEF\xBB\xBFselect 1", "select 1"},
      {"select '\xC3\xA9'", "select '\xC3\xA9'"}};
  for (const auto& [bytes, text] : cases) EXPECT_EQ(DecodeScript(bytes), text) << text;
}

TEST(PvsqlScriptTest, VariablesAreReplacedWhereverTheyStand) {
  testing::EnvGuard env("PVSQL_TEST_HOME", "/home/op");
  Variables v;
  v.Set("Db", "Portavento");
  v.Set("n", "");
  EXPECT_EQ(v.Substitute("use $(DB);select '$(db)$(n)', $(PVSQL_TEST_HOME) $( x) $(a b) $("),
            "use Portavento;select 'Portavento', /home/op $( x) $(a b) $(");
  v.Unset("db");
  try {
    v.Substitute("select $(db)");
    ADD_FAILURE() << "no error";
  } catch (const ScriptError& e) {
    EXPECT_STREQ(e.what(), "'db' scripting variable not defined.");
  }
}

#ifndef _WIN32  // systemd's state directory and the XDG folders are Linux's
// Started from a shell, pvsql has no STATE_DIRECTORY, yet must find the
// instances of the service systemd runs.
TEST(PvsqlDataRootTest, TheServicesDataRootIsFoundAsTheServiceChoosesIt) {
  testing::TempDir dir;
  testing::EnvGuard env;
  env.Set("PVREMOTE_ROOT", nullptr);
  env.Set("STATE_DIRECTORY", nullptr);
  env.Set("XDG_DATA_HOME", (dir / "xdg").c_str());
  const std::filesystem::path service = dir / "service";
  EXPECT_EQ(DefaultDataRoot(service), dir / "xdg/pvremote/sql");  // no installed service
  std::filesystem::create_directories(service / "sql");
  EXPECT_EQ(DefaultDataRoot(service), service / "sql");
  env.Set("STATE_DIRECTORY", (dir / "state").c_str());  // run by systemd
  EXPECT_EQ(DefaultDataRoot(service), dir / "state/sql");
  env.Set("PVREMOTE_ROOT", (dir / "root").c_str());
  EXPECT_EQ(DefaultDataRoot(service), dir / "root/var/lib/pvremote/sql");
}
#endif

}  // namespace
}  // namespace pv::pvsql
