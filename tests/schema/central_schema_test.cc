#include "schema/central_schema.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "db/embedded/embedded_engine.h"
#include "db/error.h"
#include "tests/schema/embedded_fixture.h"

namespace pv::schema {
namespace {

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

// The columns each table must offer the upload and the views.
const std::map<std::string, std::vector<std::string>> kColumns = {
    {"Names",
     {"ID",          "resType",     "LastName",    "FirstName", "suite",      "Company",
      "button1Type", "button2Type", "button3Type", "phone1",    "button1Loc", "button1Comm",
      "phone2",      "button2Loc",  "button2Comm", "phone3",    "button3Loc", "button3Comm",
      "hide",        "hideBut1",    "hideBut2",    "hideBut3",  "notes1",     "notes2",
      "photo",       "photoDescr",  "tmpPhoto",    "pHash",     "mailRoomID", "dmCode"}},
    {"TenantAccess",
     {"id",          "resId",       "code",          "descr",         "codeDates",
      "codeDays",    "codeTimes",   "codeStartDate", "codeEndDate",   "codeStartTime",
      "codeEndTime", "codeMon",     "codeTue",       "codeWed",       "codeThr",
      "codeFri",     "codeSat",     "codeSun",       "numericalCode", "accessType0",
      "accessType1", "accessType2", "accessType3",   "accessType4",   "accessType5"}},
    {"Notification", {"id", "resId", "email"}},
    {"NotificationF", {"id", "resId", "email"}},
    {"Packages", {"ID", "NameID", "PackageType", "PackageDate", "PickUpDate"}},
    {"Packages_Types", {"ID", "PackageTypeLongName", "PackageTypeImage"}},
    {"Packages_Settings", {"ID", "MailRoomName"}},
    {"Logs",
     {"id", "entryId", "residentId", "aDateTime", "action", "data", "computerName", "photo",
      "tmpPhoto", "photo2", "tmpPhoto2"}},
    {"Entries", {"entryId", "entryName", "mesLine1", "mesLine2", "mesLine3", "version"}},
    {"PinkNotes",
     {"id", "parentId", "mText", "subject", "mDate", "toResId", "fromResId", "urgent",
      "mustAcknowledge", "toMState", "fromMState"}},
    {"AdditionalPhotos", {"id", "photo", "tmpPhoto", "label", "resId"}},
};

class CentralSchemaTest : public testing::EmbeddedTest {
 protected:
  void SetUp() override {
    EmbeddedTest::SetUp();
    UseNewDatabase("Installation00042");
  }

  bool Check() {
    return CheckForTables(*cn_, [this](const std::string& m, long n, const std::string& d) {
      log_.push_back({m, n, d});
    });
  }

  bool Exists(const std::string& type, const std::string& name) {
    auto rows = cn_->Query("Select name From sysobjects Where type = '" + type + "' And name = '" +
                           name + "'");
    const bool found = rows->Next();
    rows->Close();
    return found;
  }

  std::int64_t ColumnCount(const std::string& table) {
    return Scalar("Select Count(*) From INFORMATION_SCHEMA.COLUMNS Where TABLE_NAME = '" + table +
                  "'")
        .AsInteger();
  }

  bool HasColumn(const std::string& table, const std::string& column) {
    return Scalar("Select Count(*) From INFORMATION_SCHEMA.COLUMNS Where COLUMN_NAME = '" + column +
                  "' And TABLE_NAME = '" + table + "'")
               .AsInteger() == 1;
  }

  // One resident, parcel, log event, ... in every table, written the way the
  // full upload writes them.
  void FillEveryTable() {
    cn_->Execute(
        "Insert Into Names (id, resType, lastName, firstName, suite, company, button1Type, "
        "button2Type, button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, "
        "button2Comm, phone3, button3Loc, button3Comm, hide, hideBut1, hideBut2, hideBut3, "
        "notes1, notes2, photoDescr, mailRoomID, dmCode) Values (5, 'R', 'O''Brien', 'Ann', "
        "'101', '', 'P', '', '', '5551234', 'A1', '', '', '', '', '', '', '', 'True', 'False', "
        "'False', 'False', Null, 'gate code', Null, Null, '');");
    cn_->Execute(
        "Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, "
        "codeStartDate, codeEndDate, codeStartTime, codeEndTime, codeMon, codeTue, codeWed, "
        "codeThr, codeFri, codeSat, codeSun, numericalCode, accessType0, accessType1, "
        "accessType2, accessType3, accessType4, accessType5) Values (5, '1234', 'front', "
        "'True', 'False', 'False', '2026-12-04T13:05:09', '', '', '', 'True', 'True', 'True', "
        "'True', 'True', 'False', 'False', '1234', 'False', 'False', 'False', 'False', 'False', "
        "'False' );");
    cn_->Execute("Insert Into Notification (resId, email) Values (5, 'ann@example.org');");
    cn_->Execute("Insert Into NotificationF (resId, email) Values (5, 'ann@example.org');");
    cn_->Execute(
        "Insert Into Packages (id, nameId, packageType, packageDate, pickupDate) Values (10, 5, "
        "1, '2026-12-04T09:00:00', Null );");
    cn_->Execute(
        "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values (1, "
        "'Small box', 'box.png' );");
    cn_->Execute("Insert Into Packages_Settings (id, mailRoomName) Values (1, 'Lobby' );");
    cn_->Execute(
        "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) Values "
        "(100, 1, 5, '2026-12-04T09:01:00', 'Phone Call', '', 'FRONT' );");
    cn_->Execute(
        "Insert Into Entries (entryId, entryName, mesLine1, mesLine2, mesLine3, version) Values "
        "(1, 'Front door', 'Welcome', '', '', '2.1' );");
    cn_->Execute(
        "Insert Into PinkNotes (parentId, mText, subject, mDate, toResId, fromResId, urgent, "
        "mustAcknowledge, toMState, fromMState) Values (1, 'hello', 'hi', '2026-12-04T10:00:00', "
        "5, 5, 'False', 'False', 'N', 'R');");
    cn_->Execute("Insert Into AdditionalPhotos (id, label, resId) Values (3, 'car', 5);");
  }

  std::vector<LogLine> log_;
};

TEST_F(CentralSchemaTest, NewDatabaseGetsElevenTablesWithTheirColumnsAndFourViews) {
  for (const std::string& t : kTableOrder) EXPECT_FALSE(Exists("U", t)) << t;

  EXPECT_TRUE(Check());
  EXPECT_TRUE(log_.empty());

  EXPECT_EQ(Scalar("Select Count(*) From sysobjects Where type = 'U'").AsInteger(), 11);
  EXPECT_EQ(Scalar("Select Count(*) From sysobjects Where type = 'V'").AsInteger(), 4);
  for (const auto& [table, columns] : kColumns) {
    EXPECT_TRUE(Exists("U", table)) << table;
    EXPECT_EQ(ColumnCount(table), static_cast<std::int64_t>(columns.size())) << table;
    for (const std::string& c : columns) EXPECT_TRUE(HasColumn(table, c)) << table << "." << c;
  }
  for (const std::string& v : kViewNames) EXPECT_TRUE(Exists("V", v)) << v;
}

// What the upload writes reads back unchanged (tests/sync_upload compares
// every column of a full site); here, what the tables refuse.
TEST_F(CentralSchemaTest, KeysAndNotNullColumnsRefuseWhatSqlServerRefuses) {
  ASSERT_TRUE(Check());
  FillEveryTable();
  auto expectFailure = [&](const std::string& sql, long number) {
    try {
      cn_->Execute(sql);
      ADD_FAILURE() << "accepted: " << sql;
    } catch (const db::DbError& e) {
      EXPECT_EQ(e.number(), number) << sql << ": " << e.description();
    }
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
  cn_->Execute("Insert Into Entries (entryId, entryName) Values (1, 'Front door');");
  cn_->Execute(
      "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values (1, 'Small "
      "box', 'box.png');");
  cn_->Execute(
      "Insert Into Packages (id, nameId, packageType, packageDate, pickupDate) Values (10, 5, 1, "
      "'2026-12-01T09:00:00', Null);");
  cn_->Execute(
      "Insert Into Packages (id, nameId, packageType, packageDate, pickupDate) Values (11, 5, 1, "
      "'2026-12-02T09:00:00', '2026-12-03T17:30:00');");
  cn_->Execute(
      "Insert Into Packages (id, nameId, packageType, packageDate, pickupDate) Values (12, 6, 1, "
      "'2026-12-03T09:00:00', Null);");
  // Parcel 10's event; a second event names parcel 10 for another resident
  // and must not attach to it.
  cn_->Execute(
      "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) Values "
      "(100, 1, 5, '2026-12-01T09:00:05', 'Package In', '10', 'MAIL');");
  cn_->Execute(
      "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) Values "
      "(101, 1, 6, '2026-12-01T09:00:06', 'Package In', '10', 'MAIL');");

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
        "'Ann', '101');");
    cn_->Execute(
        "Insert Into Names (id, resType, lastName, firstName, suite) Values (6, 'R', 'Ray', "
        "'Bob', '202');");
    // Thread 1: three messages; thread 4: one. Ids are given by the identity.
    AddNote(1, "first", "Parking", "2026-12-01T08:00:00", 5, 6);
    AddNote(1, "second", "Re: Parking", "2026-12-02T08:00:00", 6, 5);
    AddNote(1, "third", "Re: Parking", "2026-12-03T08:00:00", 5, 6);
    AddNote(4, "alone", "Noise", "2026-12-02T12:00:00", 6, 5);
    auto ids = cn_->Query("Select id, parentId From PinkNotes Order By id");
    for (int expected : {1, 2, 3, 4}) {
      ASSERT_TRUE(ids->Next());
      ASSERT_EQ(ids->Get("id").AsInteger(), expected);
    }
    ids->Close();
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
  EXPECT_EQ(Scalar("Select Count(*) From sysobjects Where type = 'U'").AsInteger(), 11);
  EXPECT_EQ(Scalar("Select Count(*) From sysobjects Where type = 'V'").AsInteger(), 4);

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
  EXPECT_EQ(ColumnCount("Entries"), 2);
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
  EXPECT_EQ(Scalar("Select Count(*) From sysobjects Where type = 'U'").AsInteger(), 0);
}

}  // namespace
}  // namespace pv::schema
