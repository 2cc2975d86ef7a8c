// The installation database's tables, indexes and views, created from the
// service's exact statements, then filled and read back.
#include <gtest/gtest.h>

#include "tests/tsql/central_texts.h"
#include "tests/tsql/tsql_test_db.h"

namespace pv::db::tsql::testing {
namespace {

class CentralSchema : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& t : kCentralTables) db.Run(std::string(t.sql));
    for (const auto& v : kCentralViews) db.Run(std::string(v.sql));
  }

  void AddName(int id, const std::string& first, const std::string& last) {
    db.Run(
        "Insert Into Names (id, resType, lastName, firstName, suite, company, "
        "button1Type, button2Type, button3Type, "
        "phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, phone3, button3Loc, "
        "button3Comm, hide, hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr, "
        "mailRoomID, dmCode) Values (" +
        std::to_string(id) + ", 'R', '" + last + "', '" + first +
        "', '101', '', 'P', '', '', '555', 'A" + std::to_string(id) +
        "', '', '', '', '', '', '', '', 'False', 'False', 'False', 'False', Null, Null, "
        "Null, Null, '');");
  }

  TestDb db;
};

// Which tables, columns and views the schema creates is checked in
// tests/schema; here, how the catalog and identity columns answer the
// service's own queries on those tables.
TEST_F(CentralSchema, CatalogComparesNamesWithoutCaseAndTellsTablesFromViews) {
  EXPECT_EQ(db.Run("Select name From sysobjects Where type = 'U' And name = 'names'").size(), 1u);
  EXPECT_TRUE(db.Run("Select name From sysobjects Where type = 'V' And name = 'Names'").empty());
  EXPECT_TRUE(
      db.Run("Select name From sysobjects Where type = 'U' And name = 'PackageDetails'").empty());
  // The five indexes exist on their tables.
  EXPECT_EQ(db.RunSqlite("SELECT count(*) FROM sqlite_schema WHERE type = 'index' AND name IN "
                         "('IX_Packages', 'IX_PinkNotes', 'IX_PinkNotes_1', 'IX_PinkNotes_2', "
                         "'IX_PinkNotes_3')")[0][0]
                .integer,
            5);
}

TEST_F(CentralSchema, ColumnCatalogAnswersForPresentAndAbsentColumns) {
  const std::string count = "Select Count(*) From INFORMATION_SCHEMA.COLUMNS ";
  EXPECT_EQ(db.Scalar(count + "Where COLUMN_NAME = 'MAILROOMID' And TABLE_NAME = 'names'"), "1");
  EXPECT_EQ(db.Scalar(count + "Where COLUMN_NAME = 'installationID' And TABLE_NAME = 'Names'"),
            "0");
  EXPECT_EQ(db.Scalar("Select DATA_TYPE From INFORMATION_SCHEMA.COLUMNS Where TABLE_NAME = "
                      "'Names' And COLUMN_NAME = 'hide'"),
            "bit");
  EXPECT_EQ(db.Scalar("Select DATA_TYPE From INFORMATION_SCHEMA.COLUMNS Where TABLE_NAME = "
                      "'Logs' And COLUMN_NAME = 'aDateTime'"),
            "datetime");
  const auto rows = db.Run(
      "Select DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, IS_NULLABLE From INFORMATION_SCHEMA.COLUMNS "
      "Where TABLE_NAME = 'Names' And COLUMN_NAME = 'LastName'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].text, "nvarchar");
  EXPECT_EQ(rows[0][1].integer, 50);
  EXPECT_EQ(rows[0][2].text, "YES");
  EXPECT_EQ(db.Scalar("Select CHARACTER_MAXIMUM_LENGTH From INFORMATION_SCHEMA.COLUMNS Where "
                      "TABLE_NAME = 'PinkNotes' And COLUMN_NAME = 'mText'"),
            "-1");
  EXPECT_EQ(db.Scalar("Select IS_NULLABLE From INFORMATION_SCHEMA.COLUMNS Where "
                      "TABLE_NAME = 'Names' And COLUMN_NAME = 'ID'"),
            "NO");

  // Adding a column that is already there is refused as SQL Server refuses it.
  db.Run("CREATE TABLE [dbo].[Settings] ([name] [nvarchar](100) NULL, [zip] [nvarchar](20) NULL)");
  db.Run("ALTER TABLE [dbo].[Settings] Add [installationID] [nvarchar](50) NULL;");
  EXPECT_EQ(db.ErrorOf("ALTER TABLE [dbo].[Settings] Add [installationID] [nvarchar](50) NULL;"),
            2705);
}

TEST_F(CentralSchema, IdentityColumnsNumberNewRowsAndGuardExplicitIds) {
  for (int i = 0; i < 3; ++i) {
    db.Run("Insert Into Notification (resId, email) Values (4, 'a" + std::to_string(i) +
           "@x.org');");
  }
  EXPECT_EQ(db.Scalar("Select SCOPE_IDENTITY()"), "3");

  // Emptying the table does not restart the numbering (DELETE, not TRUNCATE).
  db.Run("Delete From Notification;");
  db.Run("Insert Into Notification (resId, email) Values (4, 'b@x.org');");
  EXPECT_EQ(db.Scalar("Select id From Notification"), "4");

  // An explicit id needs IDENTITY_INSERT, as on SQL Server.
  EXPECT_EQ(db.ErrorOf("Insert Into Notification (id, resId, email) Values (10, 4, 'c@x.org')"),
            544);
  db.Run("SET IDENTITY_INSERT [dbo].[Notification] ON");
  db.Run("Insert Into Notification (id, resId, email) Values (10, 4, 'c@x.org')");
  db.Run("SET IDENTITY_INSERT [dbo].[Notification] OFF");
  db.Run("Insert Into Notification (resId, email) Values (4, 'd@x.org');");
  EXPECT_EQ(db.Scalar("Select id From Notification Where email = 'd@x.org'"), "11");
  EXPECT_EQ(db.ErrorOf("Update Notification Set id = 50 Where id = 10"), 8102);

  // Without a column list the values fill the other columns.
  db.Run("Insert Into Notification Values (8, 'f@x.org')");
  EXPECT_EQ(db.Scalar("Select resId From Notification Where email = 'f@x.org'"), "8");
  EXPECT_EQ(db.Scalar("Select id From Notification Where email = 'f@x.org'"), "12");
  EXPECT_EQ(db.ErrorOf("Insert Into Notification Values (9, 9, 'g@x.org')"), 213);

  // TRUNCATE starts again at the seed.
  db.Run("TRUNCATE TABLE Notification");
  db.Run("Insert Into Notification (resId, email) Values (4, 'e@x.org');");
  EXPECT_EQ(db.Scalar("Select id From Notification"), "1");
}

TEST_F(CentralSchema, TopLimitsTheOuterQueryOrOnlyItsSubquery) {
  EXPECT_TRUE(db.Run("Select Top 1 id From Names Order By id Desc").empty());
  AddName(1, "Ann", "Lee");
  AddName(7, "Bob", "Ray");
  AddName(3, "Cy", "Ode");
  EXPECT_EQ(db.Scalar("Select Top 1 id From Names Order By id Desc"), "7");
  EXPECT_EQ(db.Run("SELECT TOP (2) id FROM Names ORDER BY id").size(), 2u);
  EXPECT_EQ(db.Scalar("Select Count(*) From Names Where id In (Select Top 1 id From Names Order "
                      "By id Asc)"),
            "1");
}

}  // namespace
}  // namespace pv::db::tsql::testing
