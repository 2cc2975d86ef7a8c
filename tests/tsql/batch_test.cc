// Batches: how statements are found in them, what each becomes, what is
// never rewritten, and how failures come back.
#include <gtest/gtest.h>

#include "tests/tsql/tsql_test_db.h"

namespace pv::db::tsql::testing {
namespace {

TEST(Batches, StatementsAreFoundWithOrWithoutSeparators) {
  TestDb db;
  // Semicolons, plain succession, GO lines and comments.
  const auto st = db.TranslateOnly(
      "CREATE TABLE [dbo].[A] ([id] [int] NOT NULL) ON [PRIMARY] "
      "CREATE NONCLUSTERED INDEX [IX_A] ON [dbo].[A] ([id] ASC) ON [PRIMARY]\n"
      "GO\n"
      "-- a comment; with a semicolon\n"
      "Insert Into A (id) Values (1) Insert Into A (id) Values (2);;\n"
      "/* block; /* nested */ comment */ Update A Set id = 3 Where id = 2\n"
      "go 2\n"
      "Delete From A Where id = 1;");
  ASSERT_EQ(st.size(), 6u);
  db.Run(
      "CREATE TABLE [dbo].[A] ([id] [int] NOT NULL) ON [PRIMARY] "
      "CREATE NONCLUSTERED INDEX [IX_A] ON [dbo].[A] ([id] ASC) ON [PRIMARY]\nGO\n"
      "Insert Into A (id) Values (1) Insert Into A (id) Values (2);\n"
      "Update A Set id = 3 Where id = 2\nDelete From A Where id = 1;");
  EXPECT_EQ(db.Scalar("Select Count(*) From A"), "1");
  EXPECT_EQ(db.Scalar("Select id From A"), "3");
  // INSERT ... SELECT and UNION stay one statement.
  EXPECT_EQ(db.TranslateOnly("Insert Into A (id) Select id + 10 From A").size(), 1u);
  EXPECT_EQ(db.TranslateOnly("Select 1 Union All Select 2").size(), 1u);
  db.Run("Insert Into A (id) Select id + 10 From A");
  EXPECT_EQ(db.Scalar("Select Max(id) From A"), "13");
  // Session options have no effect here and yield nothing.
  EXPECT_TRUE(db.TranslateOnly("SET NOCOUNT ON").empty());
}

TEST(Batches, TablesMadeEarlierInABatchAreKnownToLaterStatements) {
  TestDb db;
  // Translated as a whole before anything runs: the INSERT still converts
  // 'True' for the bit column the CREATE above it defines.
  db.Run(
      "CREATE TABLE [dbo].[Names] ([id] [int] IDENTITY(1,1) NOT NULL, [hide] [bit] NULL, "
      "[mailRoomID] [bigint] NULL, CONSTRAINT [PK_Names] PRIMARY KEY CLUSTERED ([id] ASC))\n"
      "GO\n"
      "Insert Into Names (hide) Values ('True')\n"
      "ALTER TABLE [dbo].[Names] Add [born] [datetime] NULL, [code] [nvarchar](4) NULL\n"
      "Insert Into Names (hide, born, code) Values ('False', '2001-02-03T04:05:06', 'ab')\n"
      "ALTER TABLE [dbo].[Names] DROP COLUMN [mailRoomID]\n");
  const auto rows = db.Run("Select id, hide, born, code From Names Order By id");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][1].integer, 1);
  EXPECT_EQ(rows[1][0].integer, 2);
  EXPECT_EQ(rows[1][1].integer, 0);
  EXPECT_EQ(rows[1][2].text, "2001-02-03 04:05:06.000");
  EXPECT_EQ(db.Scalar("Select Count(*) From INFORMATION_SCHEMA.COLUMNS Where COLUMN_NAME = "
                      "'mailRoomID' And TABLE_NAME = 'Names'"),
            "0");
  try {
    db.Run("CREATE TABLE [dbo].[Names] ([id] [int] NOT NULL)");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_EQ(e.number(), 2714);
    EXPECT_EQ(e.description(), "There is already an object named 'Names' in the database.");
  }
  // A table dropped earlier in the batch is no longer typed.
  EXPECT_EQ(db.ErrorOf("DROP TABLE [dbo].[Names]\nInsert Into Names (hide) Values ('True')"), 208);
}

TEST(Batches, DatabaseStatementsAreLeftToTheEngine) {
  TestDb db;
  auto st = db.TranslateOnly("Create Database Installation00042;");
  ASSERT_EQ(st.size(), 1u);
  EXPECT_EQ(st[0].kind, Statement::Kind::CreateDatabase);
  EXPECT_EQ(st[0].name, "Installation00042");
  st = db.TranslateOnly("USE [Installation00042]\nGO\nSelect 1");
  ASSERT_EQ(st.size(), 2u);
  EXPECT_EQ(st[0].kind, Statement::Kind::UseDatabase);
  EXPECT_EQ(st[0].name, "Installation00042");
  EXPECT_EQ(st[1].kind, Statement::Kind::Sql);
  st = db.TranslateOnly("DROP DATABASE PVHome");
  ASSERT_EQ(st.size(), 1u);
  EXPECT_EQ(st[0].kind, Statement::Kind::DropDatabase);
  EXPECT_EQ(st[0].name, "PVHome");
}

TEST(Batches, LiteralsBracketedNamesAndCommentsAreNeverRewritten) {
  TestDb db;
  db.Run(
      "CREATE TABLE [dbo].[Odd Name] ([Top] [nvarchar](100) NULL, [select] [int] NULL, "
      "[dbo.x] [int] NULL)");
  const std::string tricky = "[dbo].Names Top 5 N'x' GetDate() 0x1F -- /* 'True' ";
  std::string quoted;
  for (char c : tricky) {
    quoted += c;
    if (c == '\'') quoted += c;
  }
  db.Run("Insert Into [dbo].[Odd Name] ([Top], [select], [dbo.x]) Values (N'" + quoted +
         "', 1, 2) -- Top 1 [dbo]. GetDate()");
  EXPECT_EQ(db.Scalar("Select [Top] From [Odd Name] Where [select] = 1"), tricky);
  EXPECT_EQ(db.Scalar("Select [dbo.x] From [dbo].[Odd Name]"), "2");
  EXPECT_EQ(db.Scalar("Select \"Top\" From \"Odd Name\""), tricky);
  // A quote inside brackets, a bracket inside a literal.
  db.Run("CREATE TABLE [it's] ([a]]b] [nvarchar](10) NULL)");
  db.Run("Insert Into [it's] ([a]]b]) Values ('[x]')");
  EXPECT_EQ(db.Scalar("Select [a]]b] From [it's]"), "[x]");
}

TEST(Batches, FailuresComeBackWithSqlServerNumbers) {
  TestDb db;
  db.Run(
      "CREATE TABLE [dbo].[P] ([id] [bigint] NOT NULL, [name] [nvarchar](10) NOT NULL, "
      "CONSTRAINT [PK_P] PRIMARY KEY CLUSTERED ([id] ASC))");
  db.Run("Insert Into P (id, name) Values (1, 'a')");
  try {
    db.Run("Select * From Missing");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_EQ(e.number(), 208);
    EXPECT_EQ(e.description(), "Invalid object name 'Missing'.");
  }
  try {
    db.Run("Insert Into P (id, name) Values (1, 'b')");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_EQ(e.number(), 2627);
    EXPECT_NE(e.description().find("PRIMARY KEY"), std::string::npos);
    EXPECT_NE(e.description().find("'dbo.P'"), std::string::npos);
  }
  try {
    db.Run("Insert Into P (id, name) Values (2, Null)");
    FAIL();
  } catch (const DbError& e) {
    EXPECT_EQ(e.number(), 515);
    EXPECT_EQ(e.description(),
              "Cannot insert the value NULL into column 'name', table 'dbo.P'; column does not "
              "allow nulls. INSERT fails.");
  }
  EXPECT_EQ(db.ErrorOf("Update P Set name = Null"), 515);
  EXPECT_EQ(db.ErrorOf("Insert Into P (id) Values (3)"), 515);
  EXPECT_EQ(db.ErrorOf("Select nosuch From P"), 207);
  EXPECT_EQ(db.ErrorOf("Select P.nosuch From P"), 4104);
  EXPECT_EQ(db.ErrorOf("Selec * From P"), 102);
  EXPECT_EQ(db.ErrorOf("Select * From P Where"), 102);
  EXPECT_EQ(db.ErrorOf("Select * From P Where (id = 1"), 102);
  EXPECT_EQ(db.ErrorOf("Select 'abc"), 105);
  EXPECT_EQ(db.ErrorOf("Select 1 /* open"), 113);
  EXPECT_EQ(db.ErrorOf("Insert Into P (id, name) Values (4)"), 109);
  EXPECT_EQ(db.ErrorOf("Insert Into P (id) Values (4, 'x')"), 110);
  EXPECT_EQ(db.ErrorOf("Select @x"), 137);
  // An unknown double-quoted name is a name, never text.
  EXPECT_EQ(db.ErrorOf("Select \"nosuch\" From P"), 207);
  // Statements a failure interrupts leave the earlier ones done.
  EXPECT_EQ(db.ErrorOf("Insert Into P (id, name) Values (5, 'e'); Insert Into P (id, name) "
                       "Values (5, 'f')"),
            2627);
  EXPECT_EQ(db.Scalar("Select name From P Where id = 5"), "e");
}

TEST(Batches, ErrorMappingCoversSqliteMessages) {
  struct Case {
    int code;
    const char* message;
    long number;
  };
  const Case cases[] = {
      {SQLITE_ERROR, "no such table: main.Names", 208},
      {SQLITE_ERROR, "no such column: lastNam", 207},
      {SQLITE_ERROR, "near \"Top\": syntax error", 102},
      {SQLITE_ERROR, "incomplete input", 102},
      {SQLITE_ERROR, "table \"Names\" already exists", 2714},
      {SQLITE_ERROR, "index IX_A already exists", 1913},
      {SQLITE_ERROR, "no such function: DATEADD", 195},
      {SQLITE_ERROR, "ambiguous column name: id", 209},
      {SQLITE_ERROR, "table T has 3 columns but 2 values were supplied", 213},
      {SQLITE_CONSTRAINT_UNIQUE, "UNIQUE constraint failed: T.code", 2627},
      {SQLITE_CONSTRAINT_PRIMARYKEY, "UNIQUE constraint failed: T.id", 2627},
      {SQLITE_CONSTRAINT_NOTNULL, "NOT NULL constraint failed: T.id", 515},
      {SQLITE_CONSTRAINT_CHECK, "CHECK constraint failed: pv_len|T|name", 8152},
      {SQLITE_CONSTRAINT_CHECK, "CHECK constraint failed: pv_type|T|at|datetime", 241},
      {SQLITE_CONSTRAINT_CHECK, "CHECK constraint failed: pv_type|T|flag|bit", 245},
      {SQLITE_CONSTRAINT_CHECK, "CHECK constraint failed: pv_range|T|n|int", 8115},
      {SQLITE_CONSTRAINT_CHECK, "CHECK constraint failed: CK_Positive", 547},
      {SQLITE_CONSTRAINT_FOREIGNKEY, "FOREIGN KEY constraint failed", 547},
      {SQLITE_BUSY, "database is locked", 1222},
      {SQLITE_READONLY, "attempt to write a readonly database", 3906},
      {SQLITE_ERROR, "[544] Cannot insert explicit value", 544},
      {SQLITE_ERROR, "something else entirely", 50000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MapError(c.code, c.message).number(), c.number) << c.message;
  }
  EXPECT_EQ(MapError(SQLITE_ERROR, "no such table: main.Names").description(),
            "Invalid object name 'Names'.");
  EXPECT_EQ(MapError(SQLITE_CONSTRAINT_NOTNULL, "NOT NULL constraint failed: T.id",
                     "UPDATE T SET id = NULL")
                .description(),
            "Cannot insert the value NULL into column 'id', table 'dbo.T'; column does not "
            "allow nulls. UPDATE fails.");
}

TEST(Batches, PrepareCanRunTwiceAndKeepsFilesReadable) {
  const std::string path = ::testing::TempDir() + "tsql_prepare_test.db";
  std::remove(path.c_str());
  {
    TestDb db(path);
    Prepare(db.handle());
    db.Run(
        "CREATE TABLE [dbo].[K] ([id] [int] IDENTITY(1,1) NOT NULL, [name] [nvarchar](20) "
        "NULL, CONSTRAINT [PK_K] PRIMARY KEY CLUSTERED ([id] ASC))");
    db.Run("Insert Into K (name) Values (N'Zoë')");
    EXPECT_EQ(db.Scalar("Select Count(*) From sysobjects Where name = 'K'"), "1");
  }
  {
    // Another connection (as after a restart) finds rows and identity state.
    TestDb db(path);
    db.Run("Insert Into K (name) Values ('b')");
    EXPECT_EQ(db.Scalar("Select Max(id) From K"), "2");
    EXPECT_EQ(db.Scalar("Select id From K Where name = N'ZOË'"), "1");
  }
  // A plain SQLite connection without the front still reads the file.
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT count(*) FROM K WHERE name = 'B'", -1, &st, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 1);
  sqlite3_finalize(st);
  sqlite3_close(raw);
  std::remove(path.c_str());
}

}  // namespace
}  // namespace pv::db::tsql::testing
