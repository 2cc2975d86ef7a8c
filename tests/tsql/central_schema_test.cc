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

TEST_F(CentralSchema, CatalogFindsEveryTableAndViewByTypeAndName) {
  for (const auto& t : kCentralTables) {
    const std::string sql =
        "Select name From sysobjects Where type = 'U' And name = '" + std::string(t.name) + "'";
    const auto rows = db.Run(sql);
    ASSERT_EQ(rows.size(), 1u) << t.name;
    EXPECT_EQ(rows[0][0].text, t.name);
    EXPECT_TRUE(db.Run("Select name From sysobjects Where type = 'V' And name = '" +
                       std::string(t.name) + "'")
                    .empty());
  }
  for (const auto& v : kCentralViews) {
    EXPECT_EQ(db.Run("Select name From sysobjects Where type = 'V' And name = '" +
                     std::string(v.name) + "'")
                  .size(),
              1u)
        << v.name;
  }
  EXPECT_EQ(db.Scalar("Select Count(*) From sysobjects Where xtype = 'U'"), "11");
  EXPECT_EQ(db.Scalar("Select Count(*) From sysobjects Where xtype = 'V'"), "4");
  // Names compare as SQL Server's catalog compares them: without regard to case.
  EXPECT_EQ(db.Run("Select name From sysobjects Where type = 'U' And name = 'names'").size(), 1u);
  EXPECT_TRUE(
      db.Run("Select name From sysobjects Where type = 'U' And name = 'Residents'").empty());
  // The five indexes exist on their tables.
  EXPECT_EQ(db.RunSqlite("SELECT count(*) FROM sqlite_schema WHERE type = 'index' AND name IN "
                         "('IX_Packages', 'IX_PinkNotes', 'IX_PinkNotes_1', 'IX_PinkNotes_2', "
                         "'IX_PinkNotes_3')")[0][0]
                .integer,
            5);
}

TEST_F(CentralSchema, ColumnCatalogAnswersForPresentAndAbsentColumns) {
  const std::string count = "Select Count(*) From INFORMATION_SCHEMA.COLUMNS ";
  EXPECT_EQ(db.Scalar(count + "Where COLUMN_NAME = 'mailRoomID' And TABLE_NAME = 'Names'"), "1");
  EXPECT_EQ(db.Scalar(count + "Where COLUMN_NAME = 'MAILROOMID' And TABLE_NAME = 'names'"), "1");
  EXPECT_EQ(db.Scalar(count + "Where COLUMN_NAME = 'installationID' And TABLE_NAME = 'Names'"),
            "0");
  EXPECT_EQ(db.Scalar(count + "Where TABLE_NAME = 'Names'"), "30");
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

  // A missing column is added the way the service adds installationID.
  db.Run("CREATE TABLE [dbo].[Settings] ([name] [nvarchar](100) NULL, [zip] [nvarchar](20) NULL)");
  db.Run("Insert Into Settings (name, zip) Values ('Site', '12345')");
  const std::string settings =
      "Select Count(*) From INFORMATION_SCHEMA.COLUMNS Where "
      "COLUMN_NAME = 'installationID' And TABLE_NAME = 'Settings'";
  EXPECT_EQ(db.Scalar(settings), "0");
  db.Run("ALTER TABLE [dbo].[Settings] Add [installationID] [nvarchar](50) NULL;");
  EXPECT_EQ(db.Scalar(settings), "1");
  EXPECT_EQ(db.Scalar("Select installationID From Settings"), "NULL");
  db.Run("Update Settings Set installationID = 'ABCDEFGHIJ';");
  EXPECT_EQ(db.Scalar("Select installationID From Settings"), "ABCDEFGHIJ");
  // Adding it twice is refused as SQL Server refuses it.
  EXPECT_EQ(db.ErrorOf("ALTER TABLE [dbo].[Settings] Add [installationID] [nvarchar](50) NULL;"),
            2705);
}

TEST_F(CentralSchema, CreatingAnExistingTableFailsAsOnSqlServer) {
  EXPECT_EQ(db.ErrorOf(std::string(kCreateNames)), 2714);
  EXPECT_EQ(db.ErrorOf(std::string(kCreateVisitorLogs)), 2714);
}

TEST_F(CentralSchema, IdentityColumnsNumberNewRowsAndGuardExplicitIds) {
  for (int i = 0; i < 3; ++i) {
    db.Run("Insert Into Notification (resId, email) Values (4, 'a" + std::to_string(i) +
           "@x.org');");
  }
  auto ids = db.Run("Select id From Notification Order By id Asc");
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids[0][0].integer, 1);
  EXPECT_EQ(ids[1][0].integer, 2);
  EXPECT_EQ(ids[2][0].integer, 3);
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

  // The upload's TenantAccess insert leaves the id to the table.
  db.Run(
      "Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, "
      "codeStartDate, codeEndDate, codeStartTime, codeEndTime, "
      "codeMon, codeTue, codeWed, codeThr, codeFri, codeSat, codeSun, "
      "numericalCode, accessType0, accessType1, accessType2, accessType3, accessType4, "
      "accessType5) Values (7, '1234', 'Front door', 'True', 'False', '', "
      "'2026-12-04T00:00:00', '', '1899-12-30 08:00:00', '1899-12-30 18:30:00', "
      "'True', 'True', 'True', 'True', 'True', 'False', 'False', "
      "'', 'False', 'False', 'False', 'False', 'False', 'False' );");
  EXPECT_EQ(db.Scalar("Select id From TenantAccess Where resId = 7"), "1");
}

TEST_F(CentralSchema, TopOneByDescendingIdGivesTheLargestId) {
  EXPECT_TRUE(db.Run("Select Top 1 id From Names Order By id Desc").empty());
  AddName(1, "Ann", "Lee");
  AddName(7, "Bob", "Ray");
  AddName(3, "Cy", "Ode");
  EXPECT_EQ(db.Scalar("Select Top 1 id From Names Order By id Desc"), "7");
  EXPECT_EQ(db.Run("Select Top 2 id From Names Order By id Asc").size(), 2u);
  EXPECT_EQ(db.Run("SELECT TOP (2) id FROM Names ORDER BY id").size(), 2u);
  // TOP inside a subquery limits only the subquery.
  EXPECT_EQ(db.Scalar("Select Count(*) From Names Where id In (Select Top 1 id From Names Order "
                      "By id Asc)"),
            "1");
  // The key refuses a second row with the same id.
  EXPECT_EQ(db.ErrorOf("Insert Into Names (id, resType) Values (7, 'R')"), 2627);
}

TEST_F(CentralSchema, PackageDetailsKeepsParcelsWithoutALogEvent) {
  db.Run(
      "Insert Into Entries (entryId, entryName, mesLine1, mesLine2, mesLine3, version) "
      "Values (1, 'Front', '', '', '', '1.0' );");
  db.Run(
      "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values (2, "
      "'Box', 'box.png' );");
  db.Run(
      "Insert Into Packages (id, nameId, packageType, packageDate, pickupDate) Values "
      "(10, 5, 2, '2026-12-04T09:00:00', Null );");
  db.Run(
      "Insert Into Packages (id, nameId, packageType, packageDate, pickupDate) Values "
      "(11, 6, 2, '2026-12-04T10:00:00', '2026-12-05T08:00:00' );");
  // A log event naming parcel 10 for resident 5, and one for another resident.
  db.Run(
      "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) "
      "Values (100, 1, 5, '2026-12-04T09:01:00', 'Package In', '10', 'PC' );");
  db.Run(
      "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) "
      "Values (101, 1, 9, '2026-12-04T09:02:00', 'Package In', '11', 'PC' );");

  const auto rows = db.Run(
      "Select NameID, PackageTypeLongName, data, action, entryName, "
      "PickUpDate From PackageDetails Order By NameID");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0].integer, 5);
  EXPECT_EQ(rows[0][1].text, "Box");
  EXPECT_EQ(rows[0][2].text, "10");
  EXPECT_EQ(rows[0][3].text, "Package In");
  EXPECT_EQ(rows[0][4].text, "Front");
  EXPECT_TRUE(rows[0][5].IsNull());
  EXPECT_EQ(rows[1][0].integer, 6);
  EXPECT_EQ(rows[1][1].text, "Box");
  EXPECT_TRUE(rows[1][2].IsNull());
  EXPECT_TRUE(rows[1][4].IsNull());
  EXPECT_EQ(rows[1][5].text, "2026-12-05 08:00:00.000");
  // The view's date column keeps its declared type.
  EXPECT_EQ(db.DeclaredType("Select PickUpDate From PackageDetails", 0), "DATETIME");
}

TEST_F(CentralSchema, VisitorLogsShowsOnlyTheFourCallKinds) {
  db.Run(
      "Insert Into Entries (entryId, entryName, mesLine1, mesLine2, mesLine3, version) "
      "Values (1, 'Lobby', '', '', '', '' );");
  AddName(5, "Ann", "Lee");
  const char* actions[] = {"STR Panel Call", "STR Call",     "Phone Call", "Relay Call",
                           "Door Open",      "phone call x", "Package In"};
  int id = 0;
  for (const char* a : actions) {
    ++id;
    db.Run(
        "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) "
        "Values (" +
        std::to_string(id) + ", 1, 5, '2026-12-04T09:00:0" + std::to_string(id) + "', '" + a +
        "', Null, 'PC' );");
  }
  // A call for a resident unknown to Names does not show either (inner join).
  db.Run(
      "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) "
      "Values (50, 1, 99, Null, 'Phone Call', Null, Null );");
  const auto rows = db.Run(
      "Select action, entryName, button1Loc From VisitorLogs Order By "
      "aDateTime");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0][0].text, "STR Panel Call");
  EXPECT_EQ(rows[3][0].text, "Relay Call");
  EXPECT_EQ(rows[0][1].text, "Lobby");
  EXPECT_EQ(rows[0][2].text, "A5");
}

TEST_F(CentralSchema, PinkNotesViewsJoinNamesAndFindTheNewestMessageOfAThread) {
  AddName(1, "Ann", "Lee");
  AddName(2, "Bob", "Ray");
  auto note = [&](int parent, const std::string& text, const std::string& date) {
    db.Run(
        "Insert Into PinkNotes (parentId, mText, subject, mDate, toResId, fromResId, urgent, "
        "mustAcknowledge, toMState, fromMState) Values (" +
        std::to_string(parent) + ", N'" + text + "', N'Hello', '" + date +
        "', 1, 2, 'False', 'True', 'N', 'R')");
  };
  note(1, "first", "2026-12-01T10:00:00");  // id 1 starts thread 1
  note(1, "newest", "2026-12-03T10:00:00");
  note(1, "middle", "2026-12-02T10:00:00");
  note(4, "other thread", "2026-12-05T10:00:00");  // id 4 starts thread 4

  const auto headers = db.Run(
      "Select parentId, lastMsgText, lastMsgDate, toName, fromName, "
      "urgent, mustAcknowledge From PinkNotesHeaders Order By parentId");
  ASSERT_EQ(headers.size(), 2u);
  EXPECT_EQ(headers[0][0].integer, 1);
  EXPECT_EQ(headers[0][1].text, "newest");
  EXPECT_EQ(headers[0][2].text, "2026-12-03 10:00:00.000");
  EXPECT_EQ(headers[0][3].text, "Ann Lee");
  EXPECT_EQ(headers[0][4].text, "Bob Ray");
  EXPECT_EQ(headers[0][5].integer, 0);
  EXPECT_EQ(headers[0][6].integer, 1);
  EXPECT_EQ(headers[1][1].text, "other thread");

  const auto details = db.Run("Select toName, fromName, toSuite From PinkNotesDetails");
  ASSERT_EQ(details.size(), 4u);
  EXPECT_EQ(details[0][0].text, "Ann Lee");
  EXPECT_EQ(details[0][1].text, "Bob Ray");
  // A name part that is Null makes the joined name Null (SQL Server's default).
  db.Run("Update Names Set firstName = Null Where id = 1");
  EXPECT_EQ(db.Scalar("Select Top 1 toName From PinkNotesDetails"), "NULL");
}

TEST_F(CentralSchema, EmptyingTablesLeavesThemInPlace) {
  AddName(1, "Ann", "Lee");
  db.Run("Delete From Names;");
  EXPECT_EQ(db.Scalar("Select Count(*) From Names"), "0");
  EXPECT_EQ(db.Run("Select name From sysobjects Where type = 'U' And name = 'Names'").size(), 1u);
  // The six- and eight-statement commands of a removal and of ClearDemo.
  AddName(1, "Ann", "Lee");
  AddName(2, "Bob", "Ray");
  db.Run(
      "Delete From Names Where id = 1;Delete From TenantAccess Where resId = 1;"
      "Delete From Packages Where nameId = 1;Delete From Notification Where resId = 1;"
      "Delete From NotificationF Where resId = 1;Delete From AdditionalPhotos Where resId = 1;");
  EXPECT_EQ(db.Scalar("Select Count(*) From Names"), "1");
  db.Run(
      "Delete From Names;Delete From TenantAccess;Delete From Packages;Delete From "
      "Notification;Delete From NotificationF;Delete From Entries;Delete From Logs;Delete "
      "From AdditionalPhotos;");
  EXPECT_EQ(db.Scalar("Select Count(*) From Names"), "0");
}

}  // namespace
}  // namespace pv::db::tsql::testing
