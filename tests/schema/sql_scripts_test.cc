// The scripts that make the local and home databases: how they are split and
// read, and the local tables the service itself writes. The lookup tables,
// the logs, the script without the mail room and the home database are read
// and written by the full upload, the queue and the central changes in
// tests/sync_*, each on databases these scripts made.
#include "schema/sql_scripts.h"

#include <gtest/gtest.h>

#include <string>

#include "db/error.h"
#include "tests/schema/embedded_fixture.h"

namespace pv::schema {
namespace {

TEST(SplitBatchesTest, GoLinesSeparateBatchesWhateverTheirCaseBlanksOrCount) {
  const std::string script =
      "\xEF\xBB\xBF-- header\r\n"
      "CREATE TABLE a (x int)\r\n"
      "go\r\n"
      "\r\n"
      "INSERT INTO a VALUES (1)\n"
      "  GO 3  \n"
      "GOTO done\n"
      "SELECT 'GO' AS go_column\n"
      "Go\n"
      "GO\n"
      "   \n";
  const std::vector<Batch> batches = SplitBatches(script);
  ASSERT_EQ(batches.size(), 3u);
  EXPECT_EQ(batches[0].text, "-- header\nCREATE TABLE a (x int)\n");
  EXPECT_EQ(batches[0].firstLine, 1);
  EXPECT_EQ(batches[0].repeat, 1);
  EXPECT_EQ(batches[1].text, "\nINSERT INTO a VALUES (1)\n");
  EXPECT_EQ(batches[1].firstLine, 4);
  EXPECT_EQ(batches[1].repeat, 3);
  EXPECT_EQ(batches[2].text, "GOTO done\nSELECT 'GO' AS go_column\n");
  EXPECT_EQ(batches[2].firstLine, 7);

  // A script without any GO is one batch; one of blanks only is none.
  EXPECT_EQ(SplitBatches("SELECT 1").size(), 1u);
  EXPECT_TRUE(SplitBatches(" \n\t\nGO\n").empty());
  EXPECT_EQ(SplitBatches("SELECT 1\nGO 0\n").size(), 1u);  // "GO 0" is not a separator
}

TEST(SqlScriptFilesTest, ScriptsAreFoundAndRead) {
  for (std::string_view name : {kLocalScript, kLocalDropMailRoomScript, kHomeScript}) {
    const std::string text = ReadSqlScript(name);
    EXPECT_NE(text.find("GO"), std::string::npos) << name;
  }
  EXPECT_THROW(ReadSqlScript("no_such_script.sql"), std::runtime_error);
}

class LocalScriptTest : public testing::EmbeddedTest {
 protected:
  void SetUp() override {
    EmbeddedTest::SetUp();
    UseNewDatabase("Portavento");
    RunSqlScript(*cn_, ReadSqlScript(kLocalScript));
  }

  std::int64_t ColumnCount(const std::string& column, const std::string& table) {
    return Scalar("Select Count(*) From INFORMATION_SCHEMA.COLUMNS Where COLUMN_NAME = '" + column +
                  "' And TABLE_NAME = '" + table + "'")
        .AsInteger();
  }
};

TEST_F(LocalScriptTest, IdentificationAddsTheKeyColumnToSettingsOnce) {
  cn_->Execute("Insert Into Settings (name, zip) Values ('Maple Court', '12345');");
  EXPECT_EQ(ColumnCount("installationID", "Settings"), 0);
  cn_->Execute("ALTER TABLE [dbo].[Settings] Add [installationID] [nvarchar](50) NULL;");
  EXPECT_EQ(ColumnCount("installationID", "Settings"), 1);
  EXPECT_TRUE(Scalar("Select installationID From Settings").IsNull());
  cn_->Execute("Update Settings Set installationID = 'ABCDEFGHIJ';");
  EXPECT_EQ(Scalar("Select installationID From Settings").AsTextRef(), "ABCDEFGHIJ");
  auto r = cn_->Query("Select name, zip From Settings");
  ASSERT_TRUE(r->Next());
  EXPECT_EQ(r->Get("name").AsTextRef(), "Maple Court");
  EXPECT_EQ(r->Get("zip").AsTextRef(), "12345");
  r->Close();
}

TEST_F(LocalScriptTest, QueueRowsAreNumberedInOrderAndWorkedByTheServiceForms) {
  cn_->Execute("Insert Into UpdateQueue (tableName, resId, recordId) Values ('NamesU', 5, 0);");
  cn_->Execute("Insert Into UpdateQueue (tableName, resId, recordId) Values ('PackagesA', 5, 9);");
  cn_->Execute("Insert Into UpdateQueue (tableName, resId, recordId) Values ('Welcome', 7, 0);");
  auto q = cn_->Query("Select * From UpdateQueue Order By id Asc");
  int expected = 1;
  std::vector<std::string> kinds;
  while (q->Next()) {
    EXPECT_EQ(q->Get("id").AsInteger(), expected++);
    kinds.push_back(q->Get("tableName").AsTextRef());
    EXPECT_EQ(q->Get("resId").type(), db::Value::Type::Integer);
    EXPECT_EQ(q->Get("recordId").type(), db::Value::Type::Integer);
  }
  q->Close();
  EXPECT_EQ(kinds, (std::vector<std::string>{"NamesU", "PackagesA", "Welcome"}));
  cn_->Execute("Delete From UpdateQueue Where id = 2;");
  EXPECT_EQ(Count("UpdateQueue"), 2);
}

TEST_F(LocalScriptTest, ResidentsTakeTheCentralSidesInsertAndServiceReadsAndUpdates) {
  // A resident created on the central side, inserted the way the service does.
  cn_->Execute(
      "Insert Into Names (resType, firstName, lastName, company, sortfield, suite, hide, "
      "priority, inZone, floor, button1Type, button2Type, button3Type, button1Loc, button2Loc, "
      "button3Loc, button1Comm, button2Comm, button3Comm, phone1, phone2, phone3, relay1, "
      "relay2, relay3, relay1board, relay2board, relay3board, relay1length, relay2length, "
      "relay3length, hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr) Values ('R', "
      "'Ann', 'O''Brien', '', 'O''Brien, Ann', '101', 'False', 'False', ',,', '', 'P', '', '', "
      "'A1', '', '', '', '', '', '5551234', '', '', '', '', '', '', '', '', 0, 0, 0, 'False', "
      "'False', 'False', '', '', '');");
  cn_->Execute("Insert Into Names (resType, lastName, firstName) Values ('S', 'Desk', 'Front');");
  cn_->Execute("Insert Into Names (resType, lastName, firstName) Values ('R', 'Ray', 'Bob');");
  cn_->Execute("Delete From Names Where id = 2;");
  EXPECT_EQ(Scalar("Select Top 1 id From Names Order By id Desc").AsInteger(), 3);

  EXPECT_EQ(ColumnCount("mailRoomID", "Names"), 1);
  auto r = cn_->Query(
      "Select id, resType, lastName, firstName, suite, company, button1Type, button2Type, "
      "button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, phone3, "
      "button3Loc, button3Comm, hide, hideBut1, hideBut2, hideBut3, notes1, notes2, photo, "
      "photoDescr, dmCode, mailRoomID From Names Where resType = 'R' Or resType = 'S'",
      db::Cursor::Keyset);
  ASSERT_TRUE(r->Next());
  EXPECT_EQ(r->Get("id").AsInteger(), 1);
  EXPECT_EQ(r->Get("lastName").AsTextRef(), "O'Brien");
  EXPECT_EQ(r->Get("hide").type(), db::Value::Type::Bit);
  EXPECT_FALSE(r->Get("hide").AsBit());
  EXPECT_TRUE(r->Get("photo").IsNull());
  EXPECT_TRUE(r->Get("dmCode").IsNull());
  ASSERT_TRUE(r->Next());
  EXPECT_EQ(r->Get("id").AsInteger(), 3);
  EXPECT_FALSE(r->Next());
  r->Close();
  EXPECT_EQ(Scalar("Select sortfield From Names Where id = 1").AsTextRef(), "O'Brien, Ann");
  EXPECT_EQ(Scalar("Select inZone From Names Where id = 1").AsTextRef(), ",,");
  EXPECT_EQ(Scalar("Select relay2length From Names Where id = 1").AsInteger(), 0);
  EXPECT_FALSE(Scalar("Select priority From Names Where id = 1").AsBit());

  cn_->Execute(
      "Update Names Set button1Type = 'P', phone1 = '5550000', button1Loc = 'B2', button1Comm = "
      "'', button2Type = '', phone2 = '', button2Loc = '', button2Comm = '', button3Type = '', "
      "phone3 = '', button3Loc = '', button3Comm = '' Where id = 1;");
  cn_->Execute("Update Names Set photo = 0x89504E47 Where id = 1;");
  EXPECT_EQ(Scalar("Select photo From Names Where id = 1").AsBinary(),
            (db::Bytes{0x89, 0x50, 0x4E, 0x47}));
  cn_->Execute("Update Names Set photo = Null, photoDescr = '' Where id = 1;");
  EXPECT_TRUE(Scalar("Select photo From Names Where id = 1").IsNull());
}

TEST_F(LocalScriptTest, ResidentDeletionReachesEveryTableOfTheResident) {
  cn_->Execute("Insert Into Names (resType, lastName) Values ('R', 'Lee');");
  cn_->Execute("Insert Into Emails (resId, email) Values (1, 'ann@example.org');");
  cn_->Execute(
      "Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, "
      "codeStartDate, codeEndDate, codeStartTime, codeEndTime, codeMon, codeTue, codeWed, "
      "codeThr, codeFri, codeSat, codeSun, numericalCode, accessType0, accessType1, "
      "accessType2, accessType3, accessType4, accessType5) Values (1, '12', 'gate', 'True', "
      "'False', 'False', '2026-12-04T13:05:09', '2027-01-31T00:00:00', '', '', 'True', "
      "'True', 'True', 'True', 'True', 'False', 'False', '12', 'True', 'False', 'False', "
      "'False', 'False', 'False' );");
  cn_->Execute(
      "Insert Into Packages (nameId, packageType, packageDate, pickupDate) Values (1, 1, "
      "'2026-12-04T09:00:00', Null);");
  cn_->Execute("Insert Into Notification (resId, email) Values (1, 'ann@example.org');");
  cn_->Execute("Insert Into NotificationF (resId, email) Values (1, 'ann@example.org');");
  cn_->Execute("Insert Into STRPanelButtons (resId) Values (1);");
  cn_->Execute("Insert Into VoIPInZone (resId) Values (1);");
  cn_->Execute("Insert Into AdditionalPhotos (label, resId) Values ('car', 1);");
  EXPECT_EQ(Scalar("Select Top 1 id From AdditionalPhotos Order By id Desc").AsInteger(), 1);
  EXPECT_EQ(Scalar("Select codeEndDate From TenantAccess").AsDateTime(),
            (db::DateTime{2027, 1, 31, 0, 0, 0, 0}));
  EXPECT_TRUE(Scalar("Select accessType0 From TenantAccess").AsBit());

  cn_->Execute(
      "Delete From Names Where id = 1;Delete From Emails Where resId = 1;Delete From "
      "TenantAccess Where resId = 1;Delete From Packages Where nameId = 1;Delete From "
      "Notification Where resId = 1;Delete From NotificationF Where resId = 1;Delete From "
      "STRPanelButtons Where resId = 1;Delete From VoIPInZone Where resId = 1;Delete From "
      "AdditionalPhotos Where resId = 1;");
  for (const char* t : {"Names", "Emails", "TenantAccess", "Packages", "Notification",
                        "NotificationF", "STRPanelButtons", "VoIPInZone", "AdditionalPhotos"}) {
    EXPECT_EQ(Count(t), 0) << t;
  }
}

}  // namespace
}  // namespace pv::schema
