#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/value.h"
#include "tools/pvsql/batch_runner.h"
#include "tools/pvsql/options.h"
#include "tools/pvsql/result_printer.h"

namespace pv::pvsql {
namespace {

// The end-to-end tests give every option apart; here the forms they do not
// use, and an empty value ("-P ''") that must not swallow the next option.
TEST(PvsqlOptionsTest, SqlcmdOptionsAreReadApartOrAttached) {
  std::string error;
  auto o = ParseArguments({"-S", "tcp:db.local,14330", "-dPortavento", "-P", "", "-t", "30", "-i",
                           "a.sql,b.sql", "-ic.sql", "-h-1"},
                          error);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->server + "," + o->port + " " + o->database, "db.local,14330 Portavento");
  EXPECT_EQ(o->timeoutSeconds, 30);
  EXPECT_EQ(o->inputFiles, (std::vector<std::string>{"a.sql", "b.sql", "c.sql"}));
  EXPECT_FALSE(o->headers);
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
                                                     {"-x"},
                                                     {"stray"},
                                                     {"--set-login", "sa"},
                                                     {"--offline", "--online"},
                                                     {"-s", ""}};
  for (const auto& args : bad) {
    std::string error;
    EXPECT_FALSE(ParseArguments(args, error)) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

TEST(PvsqlStatementsTest, SemicolonsSplitOnlyOutsideLiteralsNamesAndComments) {
  const auto s = SplitStatements(
      "insert into t values ('a;b', [x;y]);\n"
      "-- a comment; still a comment\n"
      "select \"q;r\" /* c; d */ from t ;;  \n"
      "CREATE TABLE a (x int) CREATE INDEX i ON a (x);\n"
      "select 'it''s; fine'");
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[0].text, "insert into t values ('a;b', [x;y])");
  EXPECT_EQ(s[3].text, "\nselect 'it''s; fine'");
  EXPECT_EQ((std::vector<int>{s[0].line, s[1].line, s[2].line, s[3].line}),
            (std::vector<int>{1, 3, 4, 5}));
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

}  // namespace
}  // namespace pv::pvsql
