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

TEST_F(CentralSchemaTest, NewDatabaseGetsElevenTablesWithTheirColumnsAndFourViews) {
  for (const std::string& t : kTableOrder) EXPECT_FALSE(Exists("U", t)) << t;

  EXPECT_TRUE(Check());
  EXPECT_TRUE(log_.empty());

  EXPECT_EQ(Count("sysobjects Where type = 'U'"), 11);
  EXPECT_EQ(Count("sysobjects Where type = 'V'"), 4);
  for (const std::string& t : kTableOrder) EXPECT_TRUE(Exists("U", t)) << t;
  for (const std::string& v : kViewNames) EXPECT_TRUE(Exists("V", v)) << v;
  // The five indexes exist on their tables.
  EXPECT_EQ(Count("sqlite_master Where type = 'index' And name In ('IX_Packages', "
                  "'IX_PinkNotes', 'IX_PinkNotes_1', 'IX_PinkNotes_2', 'IX_PinkNotes_3')"),
            5);
}

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

  auto rows = cn_->Query(
      "Select NameID, PackageType, PackageDate, PickUpDate, PackageTypeLongName, "
      "PackageTypeImage, action, data, entryName From PackageDetails Order By PackageDate");
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get("NameID").AsInteger(), 5);
  EXPECT_EQ(rows->Get("PackageTypeLongName").AsTextRef(), "Small box");
  EXPECT_EQ(rows->Get("PackageTypeImage").AsTextRef(), "box.png");
  EXPECT_EQ(rows->Get("action").AsTextRef(), "Package In");
  EXPECT_EQ(rows->Get("data").AsTextRef(), "10");
  EXPECT_EQ(rows->Get("entryName").AsTextRef(), "Front door");
  EXPECT_TRUE(rows->Get("PickUpDate").IsNull());

  ASSERT_TRUE(rows->Next());  // parcel 11: no event, still listed
  EXPECT_EQ(rows->Get("NameID").AsInteger(), 5);
  EXPECT_EQ(rows->Get("PickUpDate").AsDateTime(), (db::DateTime{2026, 12, 3, 17, 30, 0, 0}));
  EXPECT_TRUE(rows->Get("action").IsNull());
  EXPECT_TRUE(rows->Get("entryName").IsNull());

  ASSERT_TRUE(rows->Next());  // parcel 12 of resident 6
  EXPECT_EQ(rows->Get("NameID").AsInteger(), 6);
  EXPECT_TRUE(rows->Get("data").IsNull());
  EXPECT_FALSE(rows->Next());
  rows->Close();
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
  int id = 100;
  for (const std::string& a : actions) {
    cn_->Execute(
        "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) "
        "Values (" +
        std::to_string(id++) + ", 1, 5, '2026-12-04T10:00:00', '" + a + "', Null, 'FRONT');");
  }
  // A call for a resident that is not in Names is not shown.
  cn_->Execute(
      "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) Values "
      "(200, 1, 99, '2026-12-04T10:00:00', 'Phone Call', Null, 'FRONT');");
  cn_->Execute("Update Logs Set photo = 0xCAFE Where id = 102;");

  auto rows = cn_->Query(
      "Select action, entryName, residentId, button1Loc, button3Loc, photo From VisitorLogs "
      "Order By action");
  std::vector<std::string> seen;
  while (rows->Next()) {
    seen.push_back(rows->Get("action").AsTextRef());
    EXPECT_EQ(rows->Get("entryName").AsTextRef(), "Front door");
    EXPECT_EQ(rows->Get("residentId").AsInteger(), 5);
    EXPECT_EQ(rows->Get("button1Loc").AsTextRef(), "A1");
    EXPECT_EQ(rows->Get("button3Loc").AsTextRef(), "A3");
    if (seen.back() == "Phone Call") {
      EXPECT_EQ(rows->Get("photo").AsBinary(), (db::Bytes{0xCA, 0xFE}));
    }
  }
  rows->Close();
  EXPECT_EQ(seen,
            (std::vector<std::string>{"Phone Call", "Relay Call", "STR Call", "STR Panel Call"}));
}

class PinkNotesViewsTest : public CentralSchemaTest {
 protected:
  void SetUp() override {
    CentralSchemaTest::SetUp();
    ASSERT_TRUE(Check());
    cn_->Execute(
        "Insert Into Names (id, resType, lastName, firstName, suite) Values (5, 'R', 'Lee', "
        "'Ann', '101'), (6, 'R', 'Ray', 'Bob', '202');");
    // Thread 1: three messages; thread 4: one. Ids are given by the identity.
    AddNote(1, "first", "Parking", "2026-12-01T08:00:00", 5, 6);
    AddNote(1, "second", "Re: Parking", "2026-12-02T08:00:00", 6, 5);
    AddNote(1, "third", "Re: Parking", "2026-12-03T08:00:00", 5, 6);
    AddNote(4, "alone", "Noise", "2026-12-02T12:00:00", 6, 5);
  }

  void AddNote(int parent, const std::string& text, const std::string& subject,
               const std::string& date, int to, int from) {
    cn_->Execute(
        "Insert Into PinkNotes (parentId, mText, subject, mDate, toResId, fromResId, urgent, "
        "mustAcknowledge, toMState, fromMState) Values (" +
        std::to_string(parent) + ", '" + text + "', '" + subject + "', '" + date + "', " +
        std::to_string(to) + ", " + std::to_string(from) + ", 'False', 'True', 'N', 'R');");
  }
};

TEST_F(PinkNotesViewsTest, DetailsNameSenderAndRecipientOfEveryMessage) {
  auto rows = cn_->Query(
      "Select id, parentId, mText, toName, toSuite, fromName, fromSuite, mustAcknowledge From "
      "PinkNotesDetails Order By id");
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get("mText").AsTextRef(), "first");
  EXPECT_EQ(rows->Get("toName").AsTextRef(), "Ann Lee");
  EXPECT_EQ(rows->Get("toSuite").AsTextRef(), "101");
  EXPECT_EQ(rows->Get("fromName").AsTextRef(), "Bob Ray");
  EXPECT_EQ(rows->Get("fromSuite").AsTextRef(), "202");
  EXPECT_TRUE(rows->Get("mustAcknowledge").AsBit());
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get("toName").AsTextRef(), "Bob Ray");
  EXPECT_EQ(rows->Get("fromName").AsTextRef(), "Ann Lee");
  ASSERT_TRUE(rows->Next());
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get("parentId").AsInteger(), 4);
  EXPECT_FALSE(rows->Next());
  rows->Close();
}

TEST_F(PinkNotesViewsTest, HeadersGiveOneLinePerThreadWithItsNewestTextAndDate) {
  auto rows = cn_->Query(
      "Select parentId, subject, toName, fromName, lastMsgDate, lastMsgText From "
      "PinkNotesHeaders Order By parentId");
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get("parentId").AsInteger(), 1);
  EXPECT_EQ(rows->Get("subject").AsTextRef(), "Parking");
  EXPECT_EQ(rows->Get("toName").AsTextRef(), "Ann Lee");
  EXPECT_EQ(rows->Get("fromName").AsTextRef(), "Bob Ray");
  EXPECT_EQ(rows->Get("lastMsgDate"), db::Value::Date({2026, 12, 3, 8, 0, 0, 0}))
      << rows->Get("lastMsgDate").ToText();
  EXPECT_EQ(rows->Get("lastMsgText").AsTextRef(), "third");
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get("parentId").AsInteger(), 4);
  EXPECT_EQ(rows->Get("subject").AsTextRef(), "Noise");
  EXPECT_EQ(rows->Get("lastMsgDate"), db::Value::Date({2026, 12, 2, 12, 0, 0, 0}))
      << rows->Get("lastMsgDate").ToText();
  EXPECT_EQ(rows->Get("lastMsgText").AsTextRef(), "alone");
  EXPECT_FALSE(rows->Next());
  rows->Close();
}

TEST_F(CentralSchemaTest, FullDatabaseIsEmptiedExceptPinkNotesAndItsViewsAreLeftAlone) {
  // A view of another definition already stands under one of the names.
  cn_->Execute("CREATE VIEW [dbo].[VisitorLogs] AS SELECT 1 AS marker");
  ASSERT_TRUE(Check());
  FillEveryTable();
  for (const std::string& t : kTableOrder) ASSERT_EQ(Count(t), 1) << t;

  EXPECT_TRUE(Check());
  EXPECT_TRUE(log_.empty());
  for (const std::string& t : kTableOrder) {
    EXPECT_EQ(Count(t), t == "PinkNotes" ? 1 : 0) << t;
  }
  EXPECT_EQ(Scalar("Select mText From PinkNotes").AsTextRef(), "hello");
  EXPECT_EQ(Scalar("Select marker From VisitorLogs").AsInteger(), 1);
  EXPECT_EQ(Count("sysobjects Where type = 'U'"), 11);
  EXPECT_EQ(Count("sysobjects Where type = 'V'"), 4);

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
  EXPECT_TRUE(Exists("U", "AdditionalPhotos"));
  EXPECT_TRUE(Exists("V", "PinkNotesHeaders"));
  // The upload's insert names the missing columns and is refused.
  EXPECT_THROW(cn_->Execute("Insert Into Entries (entryId, entryName, mesLine1, mesLine2, "
                            "mesLine3, version) Values (1, 'Front door', '', '', '', '' );"),
               db::DbError);
}

TEST_F(CentralSchemaTest, FirstFailureIsLoggedOnceAndEndsTheWalk) {
  // Another kind of object holds the name of the third table, so its CREATE
  // is refused.
  cn_->Execute("CREATE VIEW [dbo].[Notification] AS SELECT 1 AS id");

  EXPECT_FALSE(Check());
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].message, "CheckForTables()");
  EXPECT_NE(log_[0].number, 0);
  EXPECT_FALSE(log_[0].detail.empty());

  EXPECT_TRUE(Exists("U", "Names"));
  EXPECT_TRUE(Exists("U", "TenantAccess"));
  for (std::size_t i = 3; i < kTableOrder.size(); ++i) {
    EXPECT_FALSE(Exists("U", kTableOrder[i])) << kTableOrder[i];
  }
  for (const std::string& v : kViewNames) EXPECT_FALSE(Exists("V", v)) << v;
}

TEST_F(CentralSchemaTest, LostConnectionIsLoggedAndNothingIsCreated) {
  db::embedded::SetOnline(root_, "localhost", "1433", false);
  EXPECT_FALSE(Check());
  db::embedded::SetOnline(root_, "localhost", "1433", true);

  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].message, "CheckForTables()");
  EXPECT_NE(log_[0].number, 0);

  cn_ = Connect("Installation00042");
  EXPECT_EQ(Count("sysobjects Where type = 'U'"), 0);
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
  for (const char* email : {"a0@x.org", "a1@x.org", "a2@x.org"}) {
    cn_->Execute("Insert Into Notification (resId, email) Values (4, '" + std::string(email) +
                 "');");
  }
  EXPECT_EQ(Scalar("Select SCOPE_IDENTITY()").AsInteger(), 3);
  // Emptying the table does not restart the numbering (DELETE, not TRUNCATE).
  cn_->Execute(
      "Delete From Notification; Insert Into Notification (resId, email) Values (4, 'b');");
  EXPECT_EQ(Scalar("Select id From Notification").AsInteger(), 4);
  // An explicit id needs IDENTITY_INSERT, as on SQL Server.
  const std::string explicitId = "Insert Into Notification (id, resId, email) Values (10, 4, 'c')";
  EXPECT_EQ(DbErrorOf([&] { cn_->Execute(explicitId); }), 544);
  cn_->Execute("SET IDENTITY_INSERT [dbo].[Notification] ON");
  cn_->Execute(explicitId);
  cn_->Execute("SET IDENTITY_INSERT [dbo].[Notification] OFF");
  cn_->Execute("Insert Into Notification (resId, email) Values (4, 'd');");
  EXPECT_EQ(Scalar("Select id From Notification Where email = 'd'").AsInteger(), 11);
  EXPECT_EQ(DbErrorOf([&] { cn_->Execute("Update Notification Set id = 50 Where id = 10"); }),
            8102);
  // Without a column list the values fill the other columns.
  cn_->Execute("Insert Into Notification Values (8, 'f')");
  EXPECT_EQ(Scalar("Select id From Notification Where resId = 8").AsInteger(), 12);
  EXPECT_EQ(DbErrorOf([&] { cn_->Execute("Insert Into Notification Values (9, 9, 'g')"); }), 213);
  // TRUNCATE starts again at the seed.
  cn_->Execute("TRUNCATE TABLE Notification");
  cn_->Execute("Insert Into Notification (resId, email) Values (4, 'e');");
  EXPECT_EQ(Scalar("Select id From Notification").AsInteger(), 1);
}

TEST_F(CentralSchemaTest, TopLimitsTheOuterQueryOrOnlyItsSubquery) {
  ASSERT_TRUE(Check());
  EXPECT_FALSE(cn_->Query("Select Top 1 id From Names Order By id Desc")->Next());
  for (int id : {1, 7, 3}) {
    cn_->Execute("Insert Into Names (id, resType, lastName) Values (" + std::to_string(id) +
                 ", 'R', 'x')");
  }
  EXPECT_EQ(Scalar("Select Top 1 id From Names Order By id Desc").AsInteger(), 7);
  EXPECT_EQ(
      Scalar("Select Count(*) From (SELECT TOP (2) id FROM Names ORDER BY id) As T").AsInteger(),
      2);
  EXPECT_EQ(Count("Names Where id In (Select Top 1 id From Names Order By id Asc)"), 1);
}

}  // namespace
}  // namespace pv::schema
