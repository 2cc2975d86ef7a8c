#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/value.h"
#include "tools/pvsql/batch_runner.h"
#include "tools/pvsql/options.h"
#include "tools/pvsql/result_printer.h"

namespace pv::pvsql {
namespace {

std::optional<Options> Parse(std::vector<std::string> args, std::string* error = nullptr) {
  std::string e;
  auto o = ParseArguments(args, e);
  if (error != nullptr) *error = e;
  return o;
}

TEST(PvsqlOptionsTest, SqlcmdOptionsAreReadApartOrAttached) {
  auto o = Parse({"-S", "tcp:db.local,14330", "-dPortavento", "-U", "op", "-P", "", "-Q",
                  "select 1", "-s", ",", "-W", "-h", "-1", "-b", "-t", "30"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->server, "db.local");
  EXPECT_EQ(o->port, "14330");
  EXPECT_EQ(o->database, "Portavento");
  EXPECT_EQ(o->user, "op");
  EXPECT_EQ(o->password, "");
  EXPECT_EQ(*o->query, "select 1");
  EXPECT_EQ(o->separator, ",");
  EXPECT_TRUE(o->trimTrailing);
  EXPECT_FALSE(o->headers);
  EXPECT_TRUE(o->abortOnError);
  EXPECT_EQ(o->timeoutSeconds, 30);

  auto files = Parse({"-i", "a.sql,b.sql", "-ic.sql", "-h-1"});
  ASSERT_TRUE(files);
  EXPECT_EQ(files->inputFiles, (std::vector<std::string>{"a.sql", "b.sql", "c.sql"}));
  EXPECT_FALSE(files->headers);

  auto login = Parse({"-S", "localhost,1500", "--set-login", "sa", "s3cret"});
  ASSERT_TRUE(login);
  EXPECT_EQ(login->command, Command::SetLogin);
  EXPECT_EQ(login->loginUser, "sa");
  EXPECT_EQ(login->loginPassword, "s3cret");
  EXPECT_EQ(login->port, "1500");
  EXPECT_EQ(Parse({"--offline", "--root", "/tmp/x"})->dataRoot, "/tmp/x");
}

TEST(PvsqlOptionsTest, BadCommandLinesAreRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {"-S", "localhost,0"},
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
      {"-s", ""},
  };
  for (const auto& args : bad) {
    std::string error;
    EXPECT_FALSE(Parse(args, &error)) << args[0];
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
  EXPECT_EQ(s[0].line, 1);
  EXPECT_EQ(s[1].line, 3);
  EXPECT_EQ(s[2].line, 4);
  EXPECT_EQ(s[3].text, "\nselect 'it''s; fine'");
  EXPECT_EQ(s[3].line, 5);
  EXPECT_TRUE(SplitStatements("  -- nothing\n /* at all */ ;").empty());

  EXPECT_TRUE(ReturnsRows(" /* x */ -- y\n SELECT 1"));
  EXPECT_TRUE(ReturnsRows("((select 1))"));
  EXPECT_TRUE(ReturnsRows("with a as (select 1 as x) select x from a"));
  EXPECT_FALSE(ReturnsRows("insert into t select 1"));
  EXPECT_FALSE(ReturnsRows("selection"));
}

TEST(PvsqlDisplayTest, ValuesPrintAsSqlcmdShowsThem) {
  EXPECT_EQ(DisplayText(db::Value::Null()), "NULL");
  EXPECT_EQ(DisplayText(db::Value::Bit(true)), "1");
  EXPECT_EQ(DisplayText(db::Value::Bit(false)), "0");
  EXPECT_EQ(DisplayText(db::Value::Integer(-42)), "-42");
  EXPECT_EQ(DisplayText(db::Value::Text("O'Brien")), "O'Brien");
  EXPECT_EQ(DisplayText(db::Value::Date({2026, 12, 4, 13, 5, 9, 120000000})),
            "2026-12-04 13:05:09.120");
  EXPECT_EQ(DisplayText(db::Value::Binary({0x00, 0xAB, 0x0F, 0xFF})), "0x00AB0FFF");
  EXPECT_EQ(DisplayText(db::Value::Binary({})), "0x");
}

}  // namespace
}  // namespace pv::pvsql
