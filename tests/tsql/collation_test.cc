// Text compares as under SQL Server's default collation (SQL_Latin1_General_
// CP1_CI_AS): case never matters, accents do, trailing blanks do not (except
// in LIKE), for literals, expressions and columns, in every operation that
// compares.
#include <sqlite3.h>

#include "tests/tsql/tsql_fixture.h"

namespace pv::db::tsql {
namespace {

class Collation : public TsqlTest {
 protected:
  // 1 when `condition` holds, else 0.
  std::string Holds(const std::string& condition) {
    return Text("Select Case When " + condition + " Then 1 Else 0 End");
  }
};

TEST_F(Collation, ComparisonsIgnoreCaseAndTrailingBlanksButNotAccents) {
  const struct {
    const char* condition;
    const char* holds;
  } cases[] = {
      {"N'abc ' = N'ABC'", "1"},
      {"N'abc' = N'abc   '", "1"},
      {"N' abc' = N'abc'", "0"},
      {"N'Élodie' = N'éLODIE'", "1"},
      {"N'Elodie' = N'Élodie'", "0"},
      {"N'ΣΟΦΊΑ' = N'σοφία'", "1"},
      {"N'ЖУК' = N'жук'", "1"},
      {"N'Straße' = N'STRASSE'", "0"},
      {"N'a' <> N'A'", "0"},
      {"N'Eden' < N'Élodie'", "1"},
      {"N'Élodie' < N'Fabrice'", "1"},
      {"N'Elodie' < N'Élodie'", "1"},
      {"N'b' > N'A'", "1"},
      {"N'ÉTÉ' In (N'x', N'été')", "1"},
      {"Upper(N'x') = Lower(N'X')", "1"},
      {"N'ab' + N'C ' = N'ABC'", "1"},
      {"Left(N'ÉCOLE', 2) = N'éc'", "1"},
      // LIKE: classes, ranges, escapes; letters without case, accents count.
      {"N'Élodie' Like N'él%'", "1"},
      {"N'Elodie' Like N'él%'", "0"},
      {"N'abc' Like N'A_C'", "1"},
      {"N'abc' Like N'[a-c]b[^x]'", "1"},
      {"N'Bob' Like N'[a-c]%'", "1"},
      {"N'dog' Like N'[a-c]%'", "0"},
      {"N'dog' Like N'[^a-c]%'", "1"},
      {"N'5%' Like N'5[%]'", "1"},
      {"N'50' Like N'5[%]'", "0"},
      {"N'a_b' Like N'a!_b' Escape N'!'", "1"},
      {"N'axb' Like N'a!_b' Escape N'!'", "0"},
      {"N'abc ' Like N'abc'", "0"},
      {"N'abc' Like N'%'", "1"},
      {"N'' Like N'%'", "1"},
      {"N'x[y' Like N'x[y'", "1"},
  };
  for (const auto& c : cases) EXPECT_EQ(Holds(c.condition), c.holds) << c.condition;
}

TEST_F(Collation, ColumnsSortGroupAndStayUniqueWithoutCase) {
  Run("Create Table P (name nvarchar(20) Not Null Primary Key, town nvarchar(20) Null)");
  Run("Create Unique Index UX_P_town On P (town)");
  for (const char* v : {"N'élodie', N'Paris'", "N'Eden', N'Lyon'", "N'fabrice', N'Nice'",
                        "N'ZOÉ', N'Albi'", "N'Adam', Null"}) {
    Run(std::string("Insert Into P (name, town) Values (") + v + ")");
  }
  const auto column = [&](const std::string& sql) {
    std::string all;
    for (const auto& row : Rows(sql)) all += (all.empty() ? "" : ",") + row[0].ToText();
    return all;
  };
  EXPECT_EQ(column("Select name From P Order By name"), "Adam,Eden,élodie,fabrice,ZOÉ");
  EXPECT_EQ(column("Select Min(name) From P Where name > N'E'"), "Eden");
  EXPECT_EQ(column("Select Max(Upper(name)) From P"), "ZOÉ");
  EXPECT_EQ(column("Select name From P Where name In (N'ÉLODIE', N'zoé ')"), "élodie,ZOÉ");
  EXPECT_EQ(column("Select name From P Where Upper(name) = Lower(N'Eden')"), "Eden");
  EXPECT_EQ(column("Select name From P Where name Like N'%O%' Order By name"), "élodie,ZOÉ");
  // Keys that differ only in case or trailing blanks are the same key.
  EXPECT_EQ(ErrorOf("Insert Into P (name) Values (N'ÉLODIE  ')"), 2627);
  EXPECT_NE(ErrorOf("Insert Into P (name, town) Values (N'Elodie', N'PARIS')"), 0);
  Run("Insert Into P (name) Values (N'Elodie')");  // another name: the accent counts
  EXPECT_EQ(column("Select Count(*) From (Select Distinct Upper(town) As t From P) As d"), "5");
  EXPECT_EQ(column("Select Count(*) From P Group By Left(name, 1) Having Left(name, 1) = N'e'"),
            "2");
}

// A file whose text indexes an earlier engine ordered (another order of
// accented letters) has them rebuilt when it is opened, so lookups through
// them find every row.
TEST_F(Collation, IndexesOfOlderFilesAreReorderedOnOpen) {
  Run("Create Table W (id int Not Null Primary Key, word nvarchar(20) Null)");
  Run("Create Index IX_W_word On W (word)");
  cn_.reset();
  const std::string file = (root_ / "localhost,1433" / (database_ + ".sqlite")).string();
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &raw), SQLITE_OK);
  // SQLite's own NOCASE orders 'é' after 'z', as the earlier engine did.
  std::string insert = "PRAGMA user_version = 0; REINDEX NOCASE;";
  const char* words[] = {"éa", "eb", "ez", "fa", "éz", "ea", "zz", "éb", "a", "é"};
  for (int i = 0; i < 10; ++i) {
    insert += "INSERT INTO W VALUES (" + std::to_string(i) + ", '" + words[i] + "');";
  }
  ASSERT_EQ(sqlite3_exec(raw, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(raw);
  cn_ = Connect();
  for (const char* w : words) {
    EXPECT_EQ(Text(std::string("Select Count(*) From W Where word = N'") + w + "'"), "1") << w;
  }
  EXPECT_EQ(Text("Select Count(*) From pragma_integrity_check Where integrity_check <> 'ok'"), "0");
}

}  // namespace
}  // namespace pv::db::tsql
