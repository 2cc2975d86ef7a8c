// Batches: how statements are found in them, what each becomes, what is
// never rewritten, and how failures come back.
#include <sqlite3.h>

#include "db/embedded/embedded_engine.h"
#include "db/sql_text.h"
#include "db/tsql/translator.h"
#include "tests/tsql/tsql_fixture.h"

namespace pv::db::tsql {
namespace {

using Batches = TsqlTest;

std::vector<Statement> TranslateAlone(const std::string& batch) {
  return Translate(batch, NoSchema());
}

TEST_F(Batches, StatementsAreFoundWithOrWithoutSeparators) {
  // Semicolons, plain succession, GO lines and comments.
  const std::string batch =
      "CREATE TABLE [dbo].[A] ([id] [int] NOT NULL) ON [PRIMARY] "
      "CREATE NONCLUSTERED INDEX [IX_A] ON [dbo].[A] ([id] ASC) ON [PRIMARY]\n"
      "GO\n"
      "-- a comment; with a semicolon\n"
      "Insert Into A (id) Values (1) Insert Into A (id) Values (2);;\n"
      "/* block; /* nested */ comment */ Update A Set id = 3 Where id = 2\n"
      "go 2\n"
      "Delete From A Where id = 1;";
  EXPECT_EQ(TranslateAlone(batch).size(), 6u);
  Run(batch);
  EXPECT_EQ(Text("Select Count(*) From A"), "1");
  EXPECT_EQ(Text("Select id From A"), "3");
  // INSERT ... SELECT and UNION stay one statement.
  EXPECT_EQ(TranslateAlone("Select 1 Union All Select 2").size(), 1u);
  Run("Insert Into A (id) Select id + 10 From A");
  EXPECT_EQ(Text("Select Max(id) From A"), "13");
  // Session options have no effect here and yield nothing.
  EXPECT_TRUE(TranslateAlone("SET NOCOUNT ON").empty());
  // Database statements are left to the engine.
  const auto st = TranslateAlone(
      "Create Database Installation00042;USE [Installation00042]\nGO\nSelect 1\n"
      "DROP DATABASE PVHome");
  ASSERT_EQ(st.size(), 4u);
  EXPECT_EQ(st[0].kind, Statement::Kind::CreateDatabase);
  EXPECT_EQ(st[1].kind, Statement::Kind::UseDatabase);
  EXPECT_EQ(st[1].name, "Installation00042");
  EXPECT_EQ(st[2].kind, Statement::Kind::Sql);
  EXPECT_EQ(st[3].kind, Statement::Kind::DropDatabase);
  EXPECT_EQ(st[3].name, "PVHome");
}

TEST_F(Batches, TablesMadeEarlierInABatchAreKnownToLaterStatements) {
  // Translated as a whole before anything runs: the INSERT still converts
  // 'True' for the bit column the CREATE above it defines.
  Run("CREATE TABLE [dbo].[Names] ([id] [int] IDENTITY(1,1) NOT NULL, [hide] [bit] NULL, "
      "[mailRoomID] [bigint] NULL, CONSTRAINT [PK_Names] PRIMARY KEY CLUSTERED ([id] ASC))\n"
      "GO\n"
      "Insert Into Names (hide) Values ('True')\n"
      "ALTER TABLE [dbo].[Names] Add [born] [datetime] NULL, [code] [nvarchar](4) NULL\n"
      "Insert Into Names (hide, born, code) Values ('False', '2001-02-03T04:05:06', 'ab')\n"
      "ALTER TABLE [dbo].[Names] DROP COLUMN [mailRoomID]\n");
  const auto rows = Rows("Select id, hide, born From Names Order By id");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][1], Value::Bit(true));
  EXPECT_EQ(rows[1][0], Value::Integer(2));
  EXPECT_EQ(rows[1][1], Value::Bit(false));
  EXPECT_EQ(rows[1][2], Value::Date({2001, 2, 3, 4, 5, 6, 0}));
  EXPECT_EQ(Text("Select Count(*) From INFORMATION_SCHEMA.COLUMNS Where COLUMN_NAME = "
                 "'mailRoomID' And TABLE_NAME = 'Names'"),
            "0");
  std::string text;
  EXPECT_EQ(ErrorOf("CREATE TABLE [dbo].[Names] ([id] [int] NOT NULL)", &text), 2714);
  EXPECT_EQ(text, "There is already an object named 'Names' in the database.");
  // A table dropped earlier in the batch is no longer typed.
  EXPECT_EQ(ErrorOf("DROP TABLE [dbo].[Names]\nInsert Into Names (hide) Values ('True')"), 208);
}

TEST_F(Batches, LiteralsBracketedNamesAndCommentsAreNeverRewritten) {
  Run("CREATE TABLE [dbo].[Odd Name] ([Top] [nvarchar](100) NULL, [select] [int] NULL, "
      "[dbo.x] [int] NULL)");
  const std::string tricky = "[dbo].Names Top 5 N'x' GetDate() 0x1F -- /* 'True' ";
  Run("Insert Into [dbo].[Odd Name] ([Top], [select], [dbo.x]) Values (N'" + DoubleQuotes(tricky) +
      "', 1, 2) -- Top 1 [dbo]. GetDate()");
  EXPECT_EQ(Text("Select [Top] From [Odd Name] Where [select] = 1"), tricky);
  EXPECT_EQ(Text("Select [dbo.x] From [dbo].[Odd Name]"), "2");
  EXPECT_EQ(Text("Select \"Top\" From \"Odd Name\""), tricky);
  // A quote inside brackets, a bracket inside a literal.
  Run("CREATE TABLE [it's] ([a]]b] [nvarchar](10) NULL)");
  Run("Insert Into [it's] ([a]]b]) Values ('[x]')");
  EXPECT_EQ(Text("Select [a]]b] From [it's]"), "[x]");
}

TEST_F(Batches, FailuresComeBackWithSqlServerNumbersAndTexts) {
  Run("CREATE TABLE [dbo].[P] ([id] [bigint] NOT NULL, [name] [nvarchar](10) NOT NULL, "
      "CONSTRAINT [PK_P] PRIMARY KEY CLUSTERED ([id] ASC)) CREATE INDEX [IX_P] ON [P] ([name])");
  Run("Insert Into P (id, name) Values (1, 'a')");
  std::string text;
  EXPECT_EQ(ErrorOf("Select * From Missing", &text), 208);
  EXPECT_EQ(text, "Invalid object name 'Missing'.");
  EXPECT_EQ(ErrorOf("Insert Into P (id, name) Values (2, Null)", &text), 515);
  EXPECT_EQ(text,
            "Cannot insert the value NULL into column 'name', table 'dbo.P'; column does not "
            "allow nulls. INSERT fails.");
  EXPECT_EQ(ErrorOf("Update P Set name = Null", &text), 515);
  EXPECT_NE(text.find("UPDATE fails."), std::string::npos) << text;
  const struct {
    const char* sql;
    long number;
  } cases[] = {
      {"Insert Into P (id) Values (3)", 515},
      {"Select nosuch From P", 207},
      {"Select \"nosuch\" From P", 207},  // an unknown double-quoted name is a name, not text
      {"Select P.nosuch From P", 4104},
      {"Selec * From P", 102},
      {"Select * From P Where", 102},
      {"Select * From P Where (id = 1", 102},
      {"Select 'abc", 105},
      {"Select 1 /* open", 113},
      {"Insert Into P (id, name) Values (4)", 109},
      {"Insert Into P (id) Values (4, 'x')", 110},
      {"Select @x", 137},
      {"CREATE INDEX [IX_P] ON [P] ([id])", 1913},
      {"Select DATEADD(1, 1, id) From P", 195},
      {"Select id From P, P As Q", 209},
      {"Alter Table P Add x int,", 102},
      {"Alter Table P Add", 102},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf(c.sql), c.number) << c.sql;
  // SQLite would stop reading at a NUL byte (and the batch never end).
  EXPECT_EQ(ErrorOf(std::string("Select 1\0Select 2", 17)), 102);
  // Nesting is bounded before the translator's recursion could use up the stack.
  EXPECT_EQ(Text("Select " + std::string(60, '(') + "7" + std::string(60, ')')), "7");
  EXPECT_EQ(ErrorOf("Select " + std::string(1000, '(') + "7" + std::string(1000, ')')), 191);
  // Statements a failure interrupts leave the earlier ones done.
  EXPECT_EQ(ErrorOf("Insert Into P (id, name) Values (5, 'e'); Insert Into P (id, name) "
                    "Values (5, 'f')"),
            2627);
  EXPECT_EQ(Text("Select name From P Where id = 5"), "e");
}

TEST(ErrorMapping, FailuresNoStatementHereCausesStillMapToSqlServerNumbers) {
  EXPECT_EQ(MapError(SQLITE_CONSTRAINT_CHECK, "CHECK constraint failed: CK_Positive").number(),
            547);
  EXPECT_EQ(MapError(SQLITE_CONSTRAINT_FOREIGNKEY, "FOREIGN KEY constraint failed").number(), 547);
  EXPECT_EQ(MapError(SQLITE_READONLY, "attempt to write a readonly database").number(), 3906);
}

TEST_F(Batches, DatabaseFilesStayReadableWithoutTheFront) {
  Run("CREATE TABLE [dbo].[K] ([id] [int] IDENTITY(1,1) NOT NULL, [name] [nvarchar](20) "
      "NULL, CONSTRAINT [PK_K] PRIMARY KEY CLUSTERED ([id] ASC))");
  Run("Insert Into K (name) Values (N'Zoë')");
  cn_ = Connect();  // another connection, as after a restart, finds rows and identity state
  Run("Insert Into K (name) Values ('b')");
  EXPECT_EQ(Text("Select Max(id) From K"), "2");
  EXPECT_EQ(Text("Select id From K Where name = N'ZOË'"), "1");
  cn_->Close();
  // A plain SQLite connection without the front still reads the file.
  const auto file = embedded::InstanceFolder(root_, "localhost", "1433") / "Portavento.sqlite";
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(file.string().c_str(), &raw), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT count(*) FROM K WHERE name = 'B'", -1, &st, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 1);
  sqlite3_finalize(st);
  sqlite3_close(raw);
}

}  // namespace
}  // namespace pv::db::tsql
