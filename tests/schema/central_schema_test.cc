// The installation database as CheckForTables makes it from the service's
// own statements: what it creates, what its keys refuse, what its views show,
// what it empties, and how the engine's catalog and identity columns answer
// the service's queries on those tables.
#include "schema/central_schema.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/embedded/embedded_engine.h"
#include "db/error.h"
#include "tests/support/embedded_instance.h"

namespace pv::schema {
namespace {

using pv::testing::DbErrorOf;

struct LogLine {
  std::string message;
  long number;
  std::string detail;
};

const std::vector<std::string> kTableOrder = {
    "Names",    "TenantAccess",   "Notification",      "NotificationF",
    "Packages", "Packages_Types", "Packages_Settings", "Logs",
    "Entries",  "PinkNotes",      "AdditionalPhotos"};

const std::vector<std::string> kViewNames = {"PackageDetails", "VisitorLogs", "PinkNotesDetails",
                                             "PinkNotesHeaders"};

class CentralSchemaTest : public pv::testing::EmbeddedTest {
 protected:
  CentralSchemaTest() : EmbeddedTest("Installation00042"), cn_(Connect()) {}

  bool Check() {
    return CheckForTables(*cn_, [this](const std::string& m, long n, const std::string& d) {
      log_.push_back({m, n, d});
    });
  }

  db::Value Scalar(const std::string& sql) { return pv::testing::Scalar(*cn_, sql); }
  std::int64_t Count(const std::string& from) {
    return Scalar("Select Count(*) From " + from).AsInteger();
  }
  bool Exists(const std::string& type, const std::string& name) {
    return Count("sysobjects Where type = '" + type + "' And name = '" + name + "'") == 1;
  }

  // Each row of `sql` as its values' text joined by '|', Null as "NULL".
  std::vector<std::string> Lines(const std::string& sql) {
    std::vector<std::string> lines;
    for (auto rows = cn_->Query(sql); rows->Next();) {
      std::string line;
      for (int i = 0; i < rows->ColumnCount(); ++i) {
        const db::Value v = rows->Get(i);
        line += (i ? "|" : "") + (v.IsNull() ? std::string("NULL") : v.ToText());
      }
      lines.push_back(line);
    }
    return lines;
  }

  // One row in every table (what the upload writes in full is compared in
  // tests/sync_upload).
  void FillEveryTable() {
    cn_->Execute(
        "Insert Into Names (id, resType, lastName, hide) Values (5, 'R', 'O''Brien', 'True');"
        "Insert Into TenantAccess (resId, code, numericalCode, codeStartDate) Values (5, '1', "
        "'1234', '2026-12-04T13:05:09');"
        "Insert Into Notification (resId, email) Values (5, 'ann@example.org');"
        "Insert Into NotificationF (resId, email) Values (5, 'ann@example.org');"
        "Insert Into Packages (id, nameId, packageType, packageDate) Values (10, 5, 1, '');"
        "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values (1, "
        "'Small box', 'box.png');"
        "Insert Into Packages_Settings (id, mailRoomName) Values (1, 'Lobby');"
        "Insert Into Logs (id, entryId, residentId, action) Values (100, 1, 5, 'Phone Call');"
        "Insert Into Entries (entryId, entryName) Values (1, 'Front door');"
        "Insert Into PinkNotes (parentId, mText, urgent) Values (1, 'hello', 'False');"
        "Insert Into AdditionalPhotos (id, label, resId) Values (3, 'car', 5);");
  }

  std::unique_ptr<db::Connection> cn_;
  std::vector<LogLine> log_;
};

// What the upload writes reads back unchanged (tests/sync_upload compares
// every column of a full site); here, what the tables refuse.
TEST_F(CentralSchemaTest, KeysAndNotNullColumnsRefuseWhatSqlServerRefuses) {
  ASSERT_TRUE(Check());
  FillEveryTable();
  auto expectFailure = [&](const std::string& sql, long number) {
    EXPECT_EQ(DbErrorOf([&] { cn_->Execute(sql); }), number) << sql;
  };
  expectFailure("Insert Into Names (id, resType) Values (5, 'R');", 2627);
  expectFailure("Insert Into Entries (entryId, entryName) Values (1, 'again');", 2627);
  expectFailure("Insert Into Notification (resId, email) Values (5, Null);", 515);
  expectFailure("Insert Into Packages (id, nameId, packageType) Values (11, Null, 1);", 515);
  expectFailure("Insert Into TenantAccess (resId, code, numericalCode) Values (5, '1', Null);",
                515);
  EXPECT_EQ(Count("Names"), 1);
}

TEST_F(CentralSchemaTest, PackageDetailsListsEveryParcelWithItsLogEventWhereOneExists) {
  ASSERT_TRUE(Check());
  // Parcel 10's event; a second event names parcel 10 for another resident
  // and must not attach to it.
  cn_->Execute(
      "Insert Into Entries (entryId, entryName) Values (1, 'Front door');"
      "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values (1, 'Small "
      "box', 'box.png');"
      "Insert Into Packages (id, nameId, packageType, packageDate, pickupDate) Values (10, 5, 1, "
      "'2026-12-01T09:00:00', Null), (11, 5, 1, '2026-12-02T09:00:00', '2026-12-03T17:30:00'), "
      "(12, 6, 1, '2026-12-03T09:00:00', Null);"
      "Insert Into Logs (id, entryId, residentId, aDateTime, action, data) Values (100, 1, 5, "
      "'2026-12-01T09:00:05', 'Package In', '10'), (101, 1, 6, '2026-12-01T09:00:06', "
      "'Package In', '10');");

  // Parcel 11 has no event and is still listed; parcel 12 is resident 6's.
  EXPECT_EQ(Lines("Select NameID, PickUpDate, PackageTypeLongName, PackageTypeImage, action, "
                  "data, entryName From PackageDetails Order By PackageDate"),
            (std::vector<std::string>{"5|NULL|Small box|box.png|Package In|10|Front door",
                                      "5|2026-12-03T17:30:00|Small box|box.png|NULL|NULL|NULL",
                                      "6|NULL|Small box|box.png|NULL|NULL|NULL"}));
}

TEST_F(CentralSchemaTest, VisitorLogsShowsOnlyTheFourCallKindsOfKnownResidents) {
  ASSERT_TRUE(Check());
  cn_->Execute("Insert Into Entries (entryId, entryName) Values (1, 'Front door');");
  cn_->Execute(
      "Insert Into Names (id, resType, lastName, firstName, button1Loc, button2Loc, button3Loc) "
      "Values (5, 'R', 'Lee', 'Ann', 'A1', 'A2', 'A3');");
  const std::vector<std::string> actions = {"STR Panel Call", "STR Call",  "Phone Call",
                                            "Relay Call",     "Door Open", "Phone Call Missed",
                                            "Package In"};
  // Row 200 is a call for a resident that is not in Names: not shown.
  std::string logs =
      "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) Values "
      "(200, 1, 99, '2026-12-04T10:00:00', 'Phone Call', Null, 'FRONT')";
  int id = 100;
  for (const std::string& a : actions) {
    logs +=
        ", (" + std::to_string(id++) + ", 1, 5, '2026-12-04T10:00:00', '" + a + "', Null, 'FRONT')";
  }
  cn_->Execute(logs);
  cn_->Execute("Update Logs Set photo = 0xCAFE Where id = 102;");

  const std::string rest = "|Front door|5|A1|A3|";
  EXPECT_EQ(
      Lines("Select action, entryName, residentId, button1Loc, button3Loc, photo From "
            "VisitorLogs Order By action"),
      (std::vector<std::string>{"Phone Call" + rest + "\xCA\xFE", "Relay Call" + rest + "NULL",
                                "STR Call" + rest + "NULL", "STR Panel Call" + rest + "NULL"}));
}

TEST_F(CentralSchemaTest, PinkNotesViewsNameBothResidentsAndHeadEachThreadWithItsNewest) {
  ASSERT_TRUE(Check());
  cn_->Execute(
      "Insert Into Names (id, resType, lastName, firstName, suite) Values (5, 'R', 'Lee', "
      "'Ann', '101'), (6, 'R', 'Ray', 'Bob', '202');");
  // Thread 1: three messages; thread 4: one. Ids are given by the identity.
  for (const char* note : {"1, 'first', 'Parking', '2026-12-01T08:00:00', 5, 6",
                           "1, 'second', 'Re: Parking', '2026-12-02T08:00:00', 6, 5",
                           "1, 'third', 'Re: Parking', '2026-12-03T08:00:00', 5, 6",
                           "4, 'alone', 'Noise', '2026-12-02T12:00:00', 6, 5"}) {
    cn_->Execute(
        "Insert Into PinkNotes (parentId, mText, subject, mDate, toResId, fromResId, urgent, "
        "mustAcknowledge, toMState, fromMState) Values (" +
        std::string(note) + ", 'False', 'True', 'N', 'R');");
  }

  EXPECT_EQ(Lines("Select parentId, mText, toName, toSuite, fromName, fromSuite, "
                  "mustAcknowledge From PinkNotesDetails Order By id"),
            (std::vector<std::string>{
                "1|first|Ann Lee|101|Bob Ray|202|True", "1|second|Bob Ray|202|Ann Lee|101|True",
                "1|third|Ann Lee|101|Bob Ray|202|True", "4|alone|Bob Ray|202|Ann Lee|101|True"}));
  EXPECT_EQ(Lines("Select parentId, subject, toName, fromName, lastMsgDate, lastMsgText From "
                  "PinkNotesHeaders Order By parentId"),
            (std::vector<std::string>{"1|Parking|Ann Lee|Bob Ray|2026-12-03T08:00:00|third",
                                      "4|Noise|Bob Ray|Ann Lee|2026-12-02T12:00:00|alone"}));
}

TEST_F(CentralSchemaTest, MissingObjectsAreMadeAndFullTablesEmptiedExceptPinkNotes) {
  // A view of another definition already stands under one of the names.
  cn_->Execute("CREATE VIEW [dbo].[VisitorLogs] AS SELECT 1 AS marker");
  EXPECT_TRUE(Check());
  EXPECT_EQ(Count("sysobjects Where type = 'U'"), 11);
  EXPECT_EQ(Count("sysobjects Where type = 'V'"), 4);
  for (const std::string& v : kViewNames) EXPECT_TRUE(Exists("V", v)) << v;
  EXPECT_EQ(Count("sqlite_master Where type = 'index' And name In ('IX_Packages', "
                  "'IX_PinkNotes', 'IX_PinkNotes_1', 'IX_PinkNotes_2', 'IX_PinkNotes_3')"),
            5);
  FillEveryTable();  // every table by name, with the columns the upload writes

  EXPECT_TRUE(Check());
  EXPECT_TRUE(log_.empty());
  for (const std::string& t : kTableOrder) {
    EXPECT_EQ(Count(t), t == "PinkNotes" ? 1 : 0) << t;
  }
  EXPECT_EQ(Scalar("Select mText From PinkNotes").AsTextRef(), "hello");
  EXPECT_EQ(Scalar("Select marker From VisitorLogs").AsInteger(), 1);
  EXPECT_EQ(Count("sysobjects"), 15);

  // A repeated upload writes the same rows again without clashing keys.
  FillEveryTable();
  EXPECT_EQ(Count("Names"), 1);
}

TEST_F(CentralSchemaTest, TableWithFewerColumnsIsEmptiedButNotAltered) {
  cn_->Execute(
      "CREATE TABLE [dbo].[Entries]([entryId] [smallint] NOT NULL, [entryName] [nvarchar](100) "
      "NULL)");
  cn_->Execute("Insert Into Entries (entryId, entryName) Values (1, 'Front door');");

  EXPECT_TRUE(Check());
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(Count("Entries"), 0);
  EXPECT_EQ(Count("INFORMATION_SCHEMA.COLUMNS Where TABLE_NAME = 'Entries'"), 2);
  EXPECT_EQ(Count("sysobjects"), 15);  // the walk went on past it
}

TEST_F(CentralSchemaTest, AFailureIsLoggedOnceAndEndsTheWalk) {
  // A lost connection creates nothing.
  db::embedded::SetOnline(root_, "localhost", "1433", false);
  EXPECT_FALSE(Check());
  db::embedded::SetOnline(root_, "localhost", "1433", true);
  cn_ = Connect();
  EXPECT_EQ(Count("sysobjects"), 0);

  // Another kind of object holds the name of the third table, so its CREATE
  // is refused and nothing after it is made.
  cn_->Execute("CREATE VIEW [dbo].[Notification] AS SELECT 1 AS id");
  EXPECT_FALSE(Check());
  ASSERT_EQ(log_.size(), 2u);
  for (const LogLine& line : log_) {
    EXPECT_EQ(line.message, "CheckForTables()");
    EXPECT_NE(line.number, 0);
    EXPECT_FALSE(line.detail.empty());
  }
  for (std::size_t i = 0; i < kTableOrder.size(); ++i) {
    EXPECT_EQ(Exists("U", kTableOrder[i]), i < 2) << kTableOrder[i];
  }
  for (const std::string& v : kViewNames) EXPECT_FALSE(Exists("V", v)) << v;
}

// How the catalog answers the service's own queries on these tables.
TEST_F(CentralSchemaTest, CatalogComparesNamesWithoutCaseAndDescribesColumns) {
  ASSERT_TRUE(Check());
  EXPECT_TRUE(Exists("U", "names"));
  EXPECT_FALSE(Exists("V", "Names"));
  EXPECT_FALSE(Exists("U", "PackageDetails"));
  const std::string columns = "INFORMATION_SCHEMA.COLUMNS Where ";
  EXPECT_EQ(Count(columns + "COLUMN_NAME = 'MAILROOMID' And TABLE_NAME = 'names'"), 1);
  EXPECT_EQ(Count(columns + "COLUMN_NAME = 'installationID' And TABLE_NAME = 'Names'"), 0);
  auto rows = cn_->Query(
      "Select DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, IS_NULLABLE From " + columns +
      "(TABLE_NAME = 'Names' And COLUMN_NAME In ('LastName', 'hide', 'ID')) Or (TABLE_NAME = "
      "'Logs' And COLUMN_NAME = 'aDateTime') Or (TABLE_NAME = 'PinkNotes' And COLUMN_NAME = "
      "'mText') Order By TABLE_NAME, COLUMN_NAME");
  // Logs.aDateTime, Names.hide, Names.ID, Names.LastName, PinkNotes.mText
  const std::vector<std::string> expected = {"datetime  YES", "bit  YES", "int  NO",
                                             "nvarchar 50 YES", "nvarchar -1 YES"};
  for (const std::string& e : expected) {
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Get(0).ToText() + " " + rows->Get(1).ToText() + " " + rows->Get(2).ToText(), e);
  }
  EXPECT_FALSE(rows->Next());
}

TEST_F(CentralSchemaTest, IdentityColumnsNumberNewRowsAndGuardExplicitIds) {
  ASSERT_TRUE(Check());
  // Emptying the table does not restart the numbering (DELETE, not TRUNCATE).
  cn_->Execute(
      "Insert Into Notification (resId, email) Values (4, 'a0'), (4, 'a1'), (4, 'a2');"
      "Delete From Notification; Insert Into Notification (resId, email) Values (4, 'b');");
  EXPECT_EQ(Scalar("Select id From Notification").AsInteger(), 4);
  // An explicit id needs IDENTITY_INSERT, as on SQL Server.
  const std::string explicitId = "Insert Into Notification (id, resId, email) Values (10, 4, 'c')";
  EXPECT_EQ(DbErrorOf([&] { cn_->Execute(explicitId); }), 544);
  cn_->Execute("SET IDENTITY_INSERT [dbo].[Notification] ON; " + explicitId +
               "; SET IDENTITY_INSERT [dbo].[Notification] OFF;"
               "Insert Into Notification (resId, email) Values (4, 'd');");
  EXPECT_EQ(Scalar("Select id From Notification Where email = 'd'").AsInteger(), 11);
  EXPECT_EQ(DbErrorOf([&] { cn_->Execute("Update Notification Set id = 50 Where id = 10"); }),
            8102);
  // Without a column list the values fill the other columns.
  cn_->Execute("Insert Into Notification Values (8, 'f')");
  EXPECT_EQ(Scalar("Select id From Notification Where resId = 8").AsInteger(), 12);
  EXPECT_EQ(DbErrorOf([&] { cn_->Execute("Insert Into Notification Values (9, 9, 'g')"); }), 213);
  // TRUNCATE starts again at the seed.
  cn_->Execute("TRUNCATE TABLE Notification; Insert Into Notification Values (4, 'e');");
  EXPECT_EQ(Scalar("Select id From Notification").AsInteger(), 1);
}

TEST_F(CentralSchemaTest, TopInASubqueryLimitsOnlyTheSubquery) {
  ASSERT_TRUE(Check());
  cn_->Execute(
      "Insert Into Names (id, resType, lastName) Values (1, 'R', 'x'), (7, 'R', 'x'), "
      "(3, 'R', 'x')");
  EXPECT_EQ(Count("(SELECT TOP (2) id FROM Names ORDER BY id) As T"), 2);
  EXPECT_EQ(Count("Names Where id In (Select Top 1 id From Names Order By id Asc)"), 1);
}

}  // namespace
}  // namespace pv::schema
