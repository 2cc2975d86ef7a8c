// SQL Server's failures where the embedded engine would otherwise succeed
// silently or speak SQLite's words, and the statement forms of batches
// (variables, IF, UPDATE ... FROM, DELETE TOP) run as SQL Server runs them.
#include <sqlite3.h>

#include "common/text.h"
#include "db/tsql/translator.h"
#include "tests/tsql/tsql_fixture.h"

namespace pv::db::tsql {
namespace {

class Errors : public TsqlTest {
 protected:
  Errors() {
    Run("CREATE TABLE [dbo].[N] ([id] [int] NOT NULL, [small] [tinyint] NULL, "
        "[amount] [decimal](10, 2) NULL, [d] [datetime] NULL, [name] [nvarchar](20) NULL, "
        "CONSTRAINT [PK_N] PRIMARY KEY CLUSTERED ([id] ASC))");
    Run("Insert Into N (id, amount, d, name) Values (42, 2.5, '2020-01-01 10:00', 'a')");
  }

  // Runs each case: a number expects that failure (and its text when given),
  // 0 the result `text` (or, without one, that the batch runs).
  struct Case {
    const char* sql;
    long number;
    const char* text;
  };
  void Expect(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      std::string description;
      std::string result;
      const long number = testing::DbErrorOf(
          [&] {
            if (c.number == 0 && c.text == nullptr) {
              Run(c.sql);
            } else {
              result = Text(c.sql);
            }
          },
          &description);
      EXPECT_EQ(number, c.number) << c.sql << ": " << description;
      if (c.number == 0 && c.text != nullptr) {
        EXPECT_EQ(result, c.text) << c.sql;
      } else if (c.text != nullptr) {
        EXPECT_EQ(description, c.text) << c.sql;
      }
    }
  }
};

TEST_F(Errors, ConversionsOfTextAndNumbersFailAsSqlServerFails) {
  Expect({
      // Text meeting an int column: a number works, anything else fails.
      {"Select Count(*) From N Where id = N'x1'", 245,
       "Conversion failed when converting the nvarchar value 'x1' to data type int."},
      {"Select Count(*) From N Where id = 'x1'", 245,
       "Conversion failed when converting the varchar value 'x1' to data type int."},
      {"Select Count(*) From N Where id = '42'", 0, "1"},
      {"Select Count(*) From N Where id = N' 42 '", 0, "1"},
      {"Select Count(*) From N Where id In (41, '42')", 0, "1"},
      {"Select Count(*) From N Where '1.5' < id", 245, nullptr},
      {"Select Count(*) From N Where id Between 'a' And 50", 245, nullptr},
      {"Insert Into N (id) Values ('abc')", 245, nullptr},
      {"Insert Into N (id) Values ('3000000000')", 248,
       "The conversion of the varchar value '3000000000' overflowed an int column."},
      {"Insert Into N (id, amount) Values (7, 'abc')", 8114,
       "Error converting data type varchar to numeric."},
      {"Select Cast('x1' As int)", 245, nullptr},
      {"Select Convert(int, ' 12 ')", 0, "12"},
      {"Select Convert(bigint, 12.9)", 0, "12"},
      {"Select IsNull(Try_Convert(int, 'x1'), -1)", 0, "-1"},
      {"Select Cast(300 As tinyint)", 220,
       "Arithmetic overflow error for data type tinyint, value = 300."},
      {"Select Cast(3000000000 As int)", 8115,
       "Arithmetic overflow error converting expression to data type int."},
      {"Select Cast('abc' As float)", 8114, "Error converting data type nvarchar to float."},
      {"Select Cast('2.5' As decimal(5, 1))", 0, "2.5"},
      // Division and modulo by zero, of integers and decimals, literal or not.
      {"Select 1/0", 8134, "Divide by zero error encountered."},
      {"Select 1 % 0", 8134, nullptr},
      {"Select 1.5 / 0.0", 8134, nullptr},
      {"Select id / (id - 42) From N", 8134, nullptr},
      {"Select amount % 0 From N", 8134, nullptr},
      {"Select Count(*) From N Where id / 0 = 1", 8134, nullptr},
      {"Select 7 / 2", 0, "3"},
      {"Select -7 / 2", 0, "-3"},
      {"Select 7 % 3", 0, "1"},
      {"Select 2 * 9 / 4 * 2", 0, "8"},
      {"Select id / 2 + 1 From N", 0, "22"},
      {"Select amount / 2 From N", 0, "1.25"},
      // Date-times: malformed text fails with 241, a date out of range with
      // 242, more than three fraction digits with 241.
      {"Insert Into N (id, d) Values (2, '2020-02-30')", 242,
       "The conversion of a varchar data type to a datetime data type resulted in an "
       "out-of-range value."},
      {"Insert Into N (id, d) Values (2, '1700-01-01')", 242, nullptr},
      {"Insert Into N (id, d) Values (2, '13/01/2020')", 242, nullptr},
      {"Insert Into N (id, d) Values (2, '20201301')", 242, nullptr},
      {"Insert Into N (id, d) Values (2, 'junk')", 241,
       "Conversion failed when converting date and/or time from character string."},
      {"Insert Into N (id, d) Values (2, '2020-01-01 25:00')", 241, nullptr},
      {"Insert Into N (id, d) Values (2, '2020-01-01 10:00:00.1234')", 241, nullptr},
      {"Select Count(*) From N Where d = '2020-01-01 10:00:00.0001'", 241, nullptr},
      {"Select Count(*) From N Where d = '2020-01-01 10:00:00.000'", 0, "1"},
      {"Select Cast('2020-02-30' As datetime)", 242, nullptr},
      {"Select Cast('tomorrow' As datetime)", 241, nullptr},
      {"Select Count(*) From N", 0, "1"},  // nothing above inserted a row
  });
}

TEST_F(Errors, DuplicateKeysNameTheConstraintOrIndexAndTheKeyValue) {
  Run("CREATE TABLE [dbo].[Names] ([id] [int] NOT NULL, [name] [nvarchar](20) NULL, "
      "[code] [int] NULL CONSTRAINT [UQ_Names_code] UNIQUE, "
      "CONSTRAINT [PK_Names] PRIMARY KEY CLUSTERED ([id] ASC)) "
      "CREATE UNIQUE INDEX [IX_Names_name] ON [Names] ([name]) "
      "CREATE TABLE [Plain] ([a] [int] NOT NULL PRIMARY KEY, [b] [nvarchar](5) NOT NULL, "
      "UNIQUE ([a], [b]))");
  Run("Insert Into Names (id, name, code) Values (42, 'Ann', 1)");
  Run("Insert Into Plain (a, b) Values (1, 'x')");
  Expect({
      {"Insert Into Names (id, name, code) Values (42, 'Bob', 2)", 2627,
       "Violation of PRIMARY KEY constraint 'PK_Names'. Cannot insert duplicate key in object "
       "'dbo.Names'. The duplicate key value is (42)."},
      {"Insert Into Names (id, name, code) Values (43, 'ANN', 2)", 2601,
       "Cannot insert duplicate key row in object 'dbo.Names' with unique index "
       "'IX_Names_name'. The duplicate key value is (ANN)."},
      {"Insert Into Names (id, name, code) Values (43, 'Cy', 1)", 2627,
       "Violation of UNIQUE KEY constraint 'UQ_Names_code'. Cannot insert duplicate key in "
       "object 'dbo.Names'. The duplicate key value is (1)."},
      // A key repeated within the statement, and rows of a SELECT.
      {"Insert Into Names (id, name) Values (50, 'e'), (51, 'f'), (50, 'g')", 2627,
       "Violation of PRIMARY KEY constraint 'PK_Names'. Cannot insert duplicate key in object "
       "'dbo.Names'. The duplicate key value is (50)."},
      {"Insert Into Names (id, name) Select id, 'z' + name From Names", 2627, nullptr},
      {"Update Names Set id = 42 Where id = 42 + 0 * code", 0, nullptr},
      {"Insert Into Plain (a, b) Values (1, 'y')", 2627, nullptr},
      {"Select Count(*) From Names", 0, "1"},
  });
  std::string text;
  EXPECT_EQ(ErrorOf("Insert Into Plain (a, b) Values (1, 'y')", &text), 2627);
  EXPECT_TRUE(text.starts_with("Violation of PRIMARY KEY constraint 'PK__Plain__")) << text;
  EXPECT_TRUE(text.ends_with("The duplicate key value is (1).")) << text;
  Run("Insert Into Names (id, name) Values (43, 'Di')");
  EXPECT_EQ(ErrorOf("Update Names Set id = 42 Where id = 43", &text), 2627);
  EXPECT_EQ(text,
            "Violation of PRIMARY KEY constraint 'PK_Names'. Cannot insert duplicate key in "
            "object 'dbo.Names'. The duplicate key value is (42).");
  EXPECT_EQ(ErrorOf("Update x Set x.name = 'ann' From Names x Where x.id = 43", &text), 2601);
  EXPECT_TRUE(text.ends_with("The duplicate key value is (ann).")) << text;
}

TEST_F(Errors, FormsTheEngineCannotRunFailClearlyAndNeverInSqliteWords) {
  Run("CREATE VIEW V AS SELECT id FROM N");
  const struct {
    const char* sql;
    long number;
  } cases[] = {
      {"While 1 = 0 Select 1", 50000},
      {"Begin Try Select 1 End Try Begin Catch Select 2 End Catch", 50000},
      {"Declare @t Table (id int)", 50000},
      {"Update N Set name = 'x' From N Left Join N As M On M.id = N.id", 50000},
      {"Insert Top (1) Into N (id) Values (1)", 50000},
      {"Begin Tran; Begin Tran", 50000},
      {"Select * From N Where id In (Select id, name From N)", 116},
      {"Select id From N Union Select id, name From N", 205},
      {"Select id From N Where Max(id) > 1", 147},
      {"Select id From N Order By 5", 108},
      {"Insert Into N (nosuch) Values (1)", 207},
      {"Select id From N Where", 102},
      {"If 1 = 1 Begin Select 1", 102},
      {"Select 1 Else Select 2", 102},
      {"Select id From N Group By", 102},
      {"Declare", 102},
      {"Update N Set name = N'x', -- a trailing comma", 102},
      {"Insert Into V (id) Values (1)", 4406},
  };
  for (const auto& c : cases) {
    std::string text;
    cn_ = Connect();  // a fresh connection: no transaction left open by a case
    EXPECT_EQ(ErrorOf(c.sql, &text), c.number) << c.sql << ": " << text;
    EXPECT_TRUE(c.number != 50000 || text.ends_with("is not supported by the embedded engine."))
        << c.sql << ": " << text;
    EXPECT_EQ(common::AsciiLower(text).find("sqlite"), std::string::npos) << text;
    EXPECT_EQ(text.find("syntax error"), std::string::npos) << text;
  }
  const DbError other = MapError(SQLITE_ERROR, "something else entirely");
  EXPECT_EQ(other.number(), 50000);
  EXPECT_EQ(other.description(), "This statement is not supported by the embedded engine.");
}

// ALTER TABLE with several columns, TRUNCATE of an identity table and the
// like take more than one step here; on SQL Server each is one statement.
TEST_F(Errors, AStatementOfSeveralStepsTakesEffectWholeOrNotAtAll) {
  std::string text;
  EXPECT_EQ(ErrorOf("Alter Table N Add a int, b int Not Null", &text), 4901) << text;
  EXPECT_TRUE(
      text.ends_with("Column 'b' cannot be added to non-empty table 'N' because it does "
                     "not satisfy these conditions."))
      << text;
  Expect({{"Select a From N", 207, "Invalid column name 'a'."},
          // Inside a transaction the steps stay the transaction's.
          {"Begin Tran; Alter Table N Add a int, b int; Rollback; Select Count(*) "
           "From INFORMATION_SCHEMA.COLUMNS Where TABLE_NAME = 'N'",
           0, "5"},
          {"Alter Table N Add a int, b int; Select Count(b) From N", 0, "0"},
          // TRUNCATE starts again at the seed.
          {"Create Table S (id int Identity(100, 1), x int); Insert Into S (x) Values (1), (2); "
           "Truncate Table S; Insert Into S (x) Values (3); Select id From S",
           0, "100"},
          {"Create Table U (id int Identity(1, 1), x int); Insert Into U (x) Values (1), (2); "
           "Truncate Table U; Insert Into U (x) Values (3); Select id From U",
           0, "1"}});
}

TEST_F(Errors, BatchesWithVariablesConditionsAndBlocksRunAsInSqlServer) {
  Expect({
      {"Declare @x int; Set @x = 3; Select @x", 0, "3"},
      {"Declare @x int = 5, @s nvarchar(3) = 'abcdef' Select @s + Convert(nvarchar(9), @x + 1)", 0,
       "abc6"},
      {"Declare @x int Set @x = '7' Select @x * 2", 0, "14"},
      {"Declare @x int; Select IsNull(@x, -1)", 0, "-1"},
      {"Declare @x int = 10, @s nvarchar(9) = 'a'; Set @x += 5; Set @x /= 3; Set @s += 'b'; "
       "Select @s + Convert(nvarchar(9), @x)",
       0, "ab5"},
      {"Declare @d datetime = '2020-01-01 10:00'; Select Count(*) From N Where d = @d", 0, "1"},
      {"Declare @n int; Select @n = Count(*) From N; Select @n + 1", 0, "2"},
      {"Declare @id int = 7; Select @id = id From N Where id < 0; Select @id", 0, "7"},
      {"Declare @a int, @b nvarchar(20); Select Top 1 @a = id, @b = name From N Order By id "
       "Desc; Select @b + Convert(nvarchar(9), @a)",
       0, "a42"},
      {"If Exists (Select 1 From N) Select 'yes'", 0, "yes"},
      {"If Not Exists (Select 1 From N) Select 'yes' Else Select 'no'", 0, "no"},
      {"If 1 = 0 Select 'a' Else If 1 = 1 Select 'b' Else Select 'c'", 0, "b"},
      {"Declare @n int = 0; If @n = 0 Begin Set @n = 5; Set @n = @n + 1 End Else Set @n = -1; "
       "Select @n",
       0, "6"},
      {"If (Select Count(*) From N) > 5 Begin Select 'many' End Else Begin Select 'few' End", 0,
       "few"},
      {"If Not Exists (Select 1 From N Where id = 9) Insert Into N (id) Values (9); "
       "If Not Exists (Select 1 From N Where id = 9) Insert Into N (id) Values (9); "
       "Select Count(*) From N",
       0, "2"},
      {"Select Case When 1 = 1 Then 'x' Else 'y' End", 0, "x"},
      {"Declare @x int; Declare @X int", 134, nullptr},
      {"Set @y = 1", 137, "Must declare the scalar variable \"@y\"."},
      {"Declare @x int = 1", 0, nullptr},
      {"Select @x", 137, nullptr},  // a variable lives for its batch only
      {"Declare @x int; Set @x = 'abc'", 245, nullptr},
      {"Declare @d datetime = '2020-02-30'", 242, nullptr},
      {"Declare @a int; Select @a = 1, id From N", 141, nullptr},
  });
  // Through Execute as well as Query: the values stay in the batch.
  Run("Declare @next int; Select @next = Max(id) + 1 From N; "
      "Insert Into N (id, name) Values (@next, 'next')");
  EXPECT_EQ(Text("Select name From N Where id = 43"), "next");
}

TEST_F(Errors, JoinedUpdatesTopDeletesAndInsertSelectsRun) {
  Run("CREATE TABLE [U] ([id] [int] NOT NULL, [label] [nvarchar](20) NULL)");
  Run("Insert Into U (id, label) Values (42, 'L42'), (1, 'L1'), (2, 'L2'), (3, 'L3')");
  Run("Update N Set name = U.label From N Join U On N.id = U.id Where U.id > 1");
  EXPECT_EQ(Text("Select name From N"), "L42");
  Run("Update x Set x.name = 'q' + u.label From N x Inner Join U u On x.id = u.id");
  EXPECT_EQ(Text("Select name From N"), "qL42");
  Run("Update N Set amount = 7 From N Where id = 42");
  Run("Update N Set name = U.label From U Where N.id = U.id");
  EXPECT_EQ(Text("Select Convert(nvarchar(20), amount) + name From N"), "7L42");
  Run("Insert Into N (id, name) Select id + 100, label From U Where id < 42");
  EXPECT_EQ(Text("Select Count(*) From N"), "4");
  EXPECT_EQ(cn_->Execute("Delete Top (2) From N Where id > 100"), 2);
  EXPECT_EQ(Text("Select Count(*) From N"), "2");
  EXPECT_EQ(cn_->Execute("Update Top (1) U Set label = 'top' Where id < 42"), 1);
  EXPECT_EQ(Text("Select Count(*) From U Where label = 'top'"), "1");
  EXPECT_EQ(cn_->Execute("Delete Top (10) From U"), 4);
}

}  // namespace
}  // namespace pv::db::tsql
