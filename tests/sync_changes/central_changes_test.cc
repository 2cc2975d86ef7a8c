// Central changes applied to the sample site, uploaded first for installation
// 42: central rows are edited as the central side would, and each change order
// must bring the local rows to what the central side holds ("NamesA" with its
// id handshake, "NamesU" with its e-mail reconciliation).
#include "sync/central_changes.h"

#include <gtest/gtest.h>

#include "sync/resident_changes.h"
#include "tests/support/sample_site.h"
#include "tests/support/site.h"
#include "tests/support/temp_dir.h"

namespace pv::testsite {
namespace {

using sync::CentralChangeResult;
using V = db::Value;

// The uploaded sample site with central queue rows 1 to 20.
class ChangeSite : public UploadSite {
 public:
  ChangeSite() {
    FillSampleSite(local());
    AddInstallations(43);
    EXPECT_EQ(Upload("42"), sync::FullUploadResult::Completed);
    installation = CentralDb("Installation00042");
    home = CentralDb();
    for (int i = 0; i < 20; ++i)
      home->Execute("Insert Into UpdateQueue (instId, recordId, tableName) Values (42, 0, N'x')");
    logged.clear();
    sent.clear();
  }

  // Applies the order whose fields are joined by '|' here.
  CentralChangeResult Apply(std::string order) {
    for (std::size_t at; (at = order.find('|')) != std::string::npos;) order.replace(at, 1, "§");
    return sync::TransferDataFromCX(*this, order);
  }

  bool Queued(int id) {
    return Home("Select id From UpdateQueue Where id = " + std::to_string(id)).size() == 1;
  }
  Rows Local(const std::string& sql) { return Dump(local(), sql); }
  // The number of local rows of `rows` ("Names Where id = 1").
  std::int64_t Count(const std::string& rows) {
    return Local("Select Count(*) From " + rows).at(0).at(0).AsInteger();
  }
  Rows Inst(const std::string& sql) { return Dump(*installation, sql); }
  Rows Home(const std::string& sql) { return Dump(*home, sql); }

  std::unique_ptr<db::Connection> installation;  // Installation00042
  std::unique_ptr<db::Connection> home;
};

const db::Bytes kNewPhoto = PatternBytes(9000, 21);

const std::string kAccess = std::string("Select ") + kTenantAccessColumns + " From TenantAccess ";

TEST(CentralChanges, ReplaceTheResidentsAccessCodesAndNotificationLists) {
  ChangeSite site;
  // Central: resident 1's codes become a full one and one with Null access
  // types and a Null numerical code (the table made to admit Null there).
  site.installation->Execute("Drop Table TenantAccess");
  site.installation->Execute(
      "Create Table TenantAccess (id bigint IDENTITY(1,1) NOT NULL, resId int, code nvarchar(15), "
      "descr nvarchar(50), codeDates bit, codeDays bit, codeTimes bit, codeStartDate datetime, "
      "codeEndDate datetime, codeStartTime datetime, codeEndTime datetime, codeMon bit, codeTue "
      "bit, codeWed bit, codeThr bit, codeFri bit, codeSat bit, codeSun bit, numericalCode "
      "nvarchar(15) NULL, accessType0 bit, accessType1 bit, accessType2 bit, accessType3 bit, "
      "accessType4 bit, accessType5 bit)");
  site.installation->Execute(
      std::string("Insert Into TenantAccess (") + kTenantAccessColumns +
      ") Values (1, N'1234', N'Seán', 1, 0, 1, "
      "'2026-01-01T00:00:00', '2026-12-31T23:59:59', '1900-01-01T08:00:00', "
      "'1900-01-01T18:30:00', 1, 1, 1, 1, 1, 0, 0, N'4321', 1, 0, 0, 0, 0, 1)");
  site.installation->Execute(
      "Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, "
      "codeStartDate, codeMon, codeSun) Values (1, N'77''7', N'O''Neil''s fob', 1, 0, 1, "
      "'2027-05-06T07:08:09', 1, 0)");
  site.installation->Execute("Delete From Notification Where resId = 1");
  site.installation->Execute(
      "Insert Into Notification (resId, email) Values (1, N'a''b@example.com'), (1, N'c@例子.cn')");
  site.installation->Execute("Delete From NotificationF");  // central rows gone

  EXPECT_EQ(site.Apply("3|1|TenantAccess|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Apply("4|1|Notification|"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Apply("5|1|NOTIFICATIONF|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_TRUE(site.logged.empty()) << site.Log();

  const Rows access = site.Local(kAccess + "Where resId = 1 Order By code");
  ASSERT_EQ(access.size(), 2u);
  // The new code: quotes kept, Null access types False, Null numerical code empty.
  const std::vector<V>& fob = access[1];
  EXPECT_EQ(fob[1], V::Text("77'7"));
  EXPECT_EQ(fob[2], V::Text("O'Neil's fob"));
  EXPECT_EQ(fob[6], V::Date({2027, 5, 6, 7, 8, 9}));
  EXPECT_EQ(fob[17], V::Text(""));
  for (int k = 18; k < 24; ++k) EXPECT_EQ(fob[k], V::Bit(false)) << k;
  // The full code arrives as the central side holds it.
  EXPECT_EQ(access[0], site.Inst(kAccess + "Where code = N'1234'").at(0));
  // Other residents keep theirs.
  EXPECT_EQ(site.Count("TenantAccess Where resId = 2"), 1);

  EXPECT_EQ(
      site.Local("Select resId, email From Notification Where resId = 1 Order By email"),
      (Rows{{V::Integer(1), V::Text("a'b@example.com")}, {V::Integer(1), V::Text("c@例子.cn")}}));
  EXPECT_EQ(site.Count("Notification Where resId = 2"), 1);
  EXPECT_EQ(site.Count("NotificationF"), 0);
  for (int id : {3, 4, 5}) EXPECT_FALSE(site.Queued(id)) << id;
  EXPECT_TRUE(site.Queued(6));
  EXPECT_TRUE(site.sent.empty());
}

TEST(CentralChanges, CopyButtonsEmailsLabelsAndDeletions) {
  ChangeSite site;
  site.installation->Execute(
      "Update Names Set button1Type = N'E', phone1 = N'555''9', button1Loc = N'B''7', "
      "button1Comm = N'x', button2Type = N'P', phone2 = N'', button2Loc = N'', button2Comm = "
      "N'', button3Type = N'N', phone3 = N'3', button3Loc = N'C', button3Comm = N'它' Where ID = "
      "1");
  site.home->Execute(
      "Update Emails Set email = N'new''o@example.com', iPhoneDeviceId = N'dev''1' Where resId = "
      "1");
  site.installation->Execute("Update AdditionalPhotos Set label = N'Bike''s' Where id = 1");

  EXPECT_EQ(site.Apply("1|1|names|0"), CentralChangeResult::Applied);
  EXPECT_EQ(site.Apply("2|1|Emails|0"), CentralChangeResult::Applied);
  EXPECT_EQ(site.Apply("3|0|AdditionalPhotosL|1"), CentralChangeResult::Applied);
  EXPECT_TRUE(site.logged.empty()) << site.Log();

  const char kButtons[] =
      "Select button1Type, phone1, button1Loc, button1Comm, button2Type, phone2, button2Loc, "
      "button2Comm, button3Type, phone3, button3Loc, button3Comm From Names Where id = 1";
  EXPECT_EQ(site.Local(kButtons), site.Inst(kButtons));
  // The "Emails" change takes the quotes out of the address.
  EXPECT_EQ(site.Local("Select email, iPhoneDeviceId From Emails Where resId = 1"),
            (Rows{{V::Text("newo@example.com"), V::Text("dev'1")}}));
  EXPECT_EQ(site.Local("Select label From AdditionalPhotos Where id = 1"),
            (Rows{{V::Text("Bike's")}}));

  // Deletions: an additional photo by item id, then the resident and all it owns.
  site.local().Execute("Insert Into STRPanelButtons (resId, panelId) Values (1, 1), (2, 1)");
  site.local().Execute("Insert Into VoIPInZone (resId, zone) Values (1, N'a')");
  EXPECT_EQ(site.Apply("4|0|AdditionalPhotosR|2"), CentralChangeResult::Applied);
  EXPECT_EQ(site.Local("Select id From AdditionalPhotos Order By id"),
            (Rows{{V::Integer(1)}, {V::Integer(3)}}));
  EXPECT_EQ(site.Apply("5|1|NamesR|0"), CentralChangeResult::Applied);
  for (const char* table : {"Emails", "TenantAccess", "Notification", "NotificationF",
                            "STRPanelButtons", "VoIPInZone", "AdditionalPhotos"}) {
    EXPECT_EQ(site.Count(std::string(table) + " Where resId = 1"), 0) << table;
  }
  EXPECT_EQ(site.Count("Names Where id = 1"), 0);
  EXPECT_EQ(site.Count("Packages Where nameId = 1"), 0);
  EXPECT_EQ(site.Count("STRPanelButtons Where resId = 2"), 1);
  EXPECT_EQ(site.Count("Names"), 3);
  EXPECT_TRUE(site.logged.empty()) << site.Log();
  for (int id = 1; id <= 5; ++id) EXPECT_FALSE(site.Queued(id)) << id;
}

TEST(CentralChanges, PhotosArriveByteForByteAfterAFullDiskOrAStopAndLeaveTheCentralSide) {
  ChangeSite site;
  site.installation->Execute("Update Names Set photo = " + BinaryLiteral(kNewPhoto) +
                             ", photoDescr = N'new''s' Where ID = 1");
  site.installation->Execute("Update Names Set photo = Null, photoDescr = N'kept' Where ID = 4");
  site.installation->Execute("Insert Into AdditionalPhotos (id, photo, label, resId) Values (-3, " +
                             BinaryLiteral(kAdditionalPhoto) + ", N'Gate''s view', 2)");
#ifndef _WIN32
  // No room on the disk for the temp photo files: the changes wait, queued.
  const auto photos = site.appFolder() / "photos";
  for (const char* name : {"temp_00042.jpg", "temp_00042A.jpg"}) {
    std::filesystem::remove(photos / name);
    std::filesystem::create_symlink("/dev/full", photos / name);
  }
  EXPECT_EQ(site.Apply("1|1|PhotoU|0"), CentralChangeResult::Deferred);
  EXPECT_EQ(site.Apply("3|2|AdditionalPhotos|0"), CentralChangeResult::Deferred);
  EXPECT_TRUE(site.Queued(1) && site.Queued(3));
  EXPECT_EQ(site.logged.at(0).number, 112) << site.Log();
  for (const char* name : {"temp_00042.jpg", "temp_00042A.jpg"})
    std::filesystem::remove(photos / name);
#endif
  // Stopped between the local insert and the central id update: sent again,
  // it goes on with the row it made.
  site.TakeCentralOfflineAtStatement(site.centralStatements() + 1);
  EXPECT_EQ(site.Apply("3|2|AdditionalPhotos|0"), CentralChangeResult::Deferred);
  site.SetCentralOnline(true);
  site.TakeCentralOfflineAtStatement(0);
  site.logged.clear();

  EXPECT_EQ(site.Apply("1|1|PhotoU|0"), CentralChangeResult::Applied);
  EXPECT_EQ(site.Local("Select photo, photoDescr From Names Where id = 1"),
            (Rows{{V::Binary(kNewPhoto), V::Text("new's")}}));
  EXPECT_EQ(site.Inst("Select photo From Names Where ID = 1"), (Rows{{V()}}));
  EXPECT_EQ(testing::ReadFile(site.appFolder() / "photos" / "temp_00042.jpg"),
            std::string(kNewPhoto.begin(), kNewPhoto.end()));

  // No central photo: the local one stays, the description is rewritten.
  EXPECT_EQ(site.Apply("2|4|PhotoU|0"), CentralChangeResult::Applied);
  EXPECT_EQ(site.Local("Select photo, photoDescr From Names Where id = 4"),
            (Rows{{V::Binary(kLargeResidentPhoto), V::Text("kept")}}));

  EXPECT_EQ(site.Apply("3|2|AdditionalPhotos|0"), CentralChangeResult::Applied);
  EXPECT_EQ(
      site.Local("Select id, label, resId, photo From AdditionalPhotos Where id = 4"),
      (Rows{{V::Integer(4), V::Text("Gate's view"), V::Integer(2), V::Binary(kAdditionalPhoto)}}));
  EXPECT_EQ(
      site.Inst(
          "Select id, photo, label From AdditionalPhotos Where resId = 2 And label Like N'Gate%'"),
      (Rows{{V::Integer(4), V(), V::Text("Gate's view")}}));
  EXPECT_EQ(testing::ReadFile(site.appFolder() / "photos" / "temp_00042A.jpg"),
            std::string(kAdditionalPhoto.begin(), kAdditionalPhoto.end()));
  // Nothing left with a negative id: a second order adds nothing.
  EXPECT_EQ(site.Apply("4|2|AdditionalPhotos|0"), CentralChangeResult::Applied);
  EXPECT_EQ(site.Count("AdditionalPhotos"), 4);

  EXPECT_EQ(site.Apply("5|1|PhotoR|0"), CentralChangeResult::Applied);
  EXPECT_EQ(site.Local("Select photo, photoDescr From Names Where id = 1"),
            (Rows{{V(), V::Text("")}}));
  EXPECT_TRUE(site.logged.empty()) << site.Log();
  EXPECT_TRUE(site.sent.empty());
}

TEST(CentralChanges, FailuresAreLoggedAndStillRemoveTheQueueRow) {
  ChangeSite site;
  const Rows access = site.Local(kAccess + "Order By resId");

  // Two fields only.
  EXPECT_EQ(site.Apply("17|42"), CentralChangeResult::Failed);
  ASSERT_EQ(site.logged.size(), 1u);
  EXPECT_EQ(site.logged[0].message, "TransferDataFromCX()");
  EXPECT_FALSE(site.Queued(17));
  EXPECT_EQ(site.Central().get(), nullptr) << "central connection left open";

  // A record id that is not a whole number: nothing runs locally.
  EXPECT_EQ(site.Apply("16|1 Or 1=1|TenantAccess|0"), CentralChangeResult::Failed);
  EXPECT_EQ(site.Apply("15|1;Delete From Names|NamesR|0"), CentralChangeResult::Failed);
  EXPECT_EQ(site.Apply("14|0|AdditionalPhotosR|1 Or 1=1"), CentralChangeResult::Failed);
  EXPECT_EQ(site.logged.size(), 4u) << site.Log();
  EXPECT_EQ(site.Local(kAccess + "Order By resId"), access);
  EXPECT_EQ(site.Count("Names"), 4);
  EXPECT_EQ(site.Count("AdditionalPhotos"), 3);
  for (int id : {14, 15, 16}) EXPECT_FALSE(site.Queued(id)) << id;

  // An unknown kind: nothing applied, nothing logged, row deleted.
  site.logged.clear();
  EXPECT_EQ(site.Apply("13|1|Packages|0"), CentralChangeResult::UnknownKind);
  EXPECT_TRUE(site.logged.empty());
  EXPECT_FALSE(site.Queued(13));

  // A Null under text conversion fails after the local delete, which stays.
  site.installation->Execute("Update TenantAccess Set descr = Null Where resId = 2");
  EXPECT_EQ(site.Apply("12.4|2|TenantAccess|0"), CentralChangeResult::Failed);
  ASSERT_EQ(site.logged.size(), 1u);
  EXPECT_EQ(site.logged[0].number, 94) << site.Log();
  EXPECT_FALSE(site.Queued(12));
  EXPECT_EQ(site.Count("TenantAccess Where resId = 2"), 0);
}

TEST(CentralChanges, APassingFaultKeepsTheQueueRowAndTheChangeIsAppliedWhenSentAgain) {
  ChangeSite site;
  site.installation->Execute("Update TenantAccess Set descr = N'changed' Where resId = 1");

  // The local database is away when the order arrives: logged, row kept.
  site.SetLocalOnline(false);
  EXPECT_EQ(site.Apply("11|1|TenantAccess|0"), CentralChangeResult::Deferred);
  site.SetLocalOnline(true);
  ASSERT_EQ(site.logged.size(), 1u);
  EXPECT_EQ(site.logged[0].number, 10054) << site.Log();
  EXPECT_TRUE(site.Queued(11));
  EXPECT_EQ(site.Central().get(), nullptr) << "central connection left open";

  // Sent again, it is applied and its row goes.
  EXPECT_EQ(site.Apply("11|1|TenantAccess|0"), CentralChangeResult::Applied);
  EXPECT_FALSE(site.Queued(11));
  EXPECT_EQ(site.Local(kAccess + "Where resId = 1 Order By code"),
            site.Inst(kAccess + "Where resId = 1 Order By code"));
}

TEST(QueueRowId, LeadingNumberRoundedOrZero) {
  EXPECT_EQ(sync::QueueRowIdOf("17"), 17);
  EXPECT_EQ(sync::QueueRowIdOf(" 17abc"), 17);
  EXPECT_EQ(sync::QueueRowIdOf("12.6"), 13);
  EXPECT_EQ(sync::QueueRowIdOf("-3"), -3);
  EXPECT_EQ(sync::QueueRowIdOf("abc"), 0);
  EXPECT_EQ(sync::QueueRowIdOf(""), 0);
  EXPECT_EQ(sync::QueueRowIdOf("99999999999"), 0);
}

void AddCentralResident(ChangeSite& site, int id, const std::string& last, const std::string& first,
                        const std::string& company) {
  site.installation->Execute(
      "Insert Into Names (ID, resType, LastName, FirstName, suite, Company, button1Type, "
      "button2Type, button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, "
      "button2Comm, phone3, button3Loc, button3Comm, hide, notes1, notes2, photoDescr, dmCode) "
      "Values (" +
      std::to_string(id) + ", N'R', " + last + ", " + first + ", N'7''B', " + company +
      ", N'P', N'E', N'N', N'5551', N'L1', N'C''1', N'5552', N'L2', N'C2', N'5553', N'L3', "
      "N'C3', 1, N'note''s', Null, N'pic', N'9')");
}

TEST(NamesA, InsertsTheResidentAndRenumbersTheCentralRowsToTheLocalId) {
  ChangeSite site;
  AddCentralResident(site, -1, "N'D''Arcy'", "N'Zoë'", "N'ACME ''Ltd'''");
  site.installation->Execute("Insert Into Notification (resId, email) Values (-1, N'n@x.org')");
  site.installation->Execute("Insert Into NotificationF (resId, email) Values (-1, N'f@x.org')");
  site.home->Execute(
      "Insert Into Emails (instId, resId, email) Values (42, -1, N'd''arcy@example.com'), "
      "(43, -1, N'other@example.com')");
  // A resident of another writer lands first: the new id must still be the
  // inserted row's own.
  site.local().Execute("Insert Into Names (resType, lastName) Values (N'R', N'Before')");
  // Stopped right after the local insert, then at the last step: sent again,
  // it goes on with the row it made.
  for (int at : {1, 4}) {
    site.TakeCentralOfflineAtStatement(site.centralStatements() + at);
    EXPECT_EQ(site.Apply("6|0|NamesA|0"), CentralChangeResult::Deferred) << at;
    site.SetCentralOnline(true);
  }
  site.TakeCentralOfflineAtStatement(0);
  site.logged.clear();

  EXPECT_EQ(site.Apply("6|0|NamesA|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.sent, std::vector<std::string>{"SDWE 42§6"});
  EXPECT_EQ(
      site.Local("Select resType, firstName, lastName, company, sortfield, suite, hide, priority, "
                 "inZone, floor, button1Type, button2Type, button3Type, button1Loc, button3Comm, "
                 "phone1, phone3, relay1, relay3board, relay2length, hideBut1, hideBut3, notes1, "
                 "notes2, photoDescr From Names Where id = 6"),
      (Rows{{V::Text("R"),          V::Text("Zoë"), V::Text("D'Arcy"), V::Text("ACME 'Ltd'"),
             V::Text("ACME 'Ltd'"), V::Text("7'B"), V::Bit(true),      V::Bit(false),
             V::Text(",,"),         V::Text(""),    V::Text("P"),      V::Text("E"),
             V::Text("N"),          V::Text("L1"),  V::Text("C3"),     V::Text("5551"),
             V::Text("5553"),       V::Text(""),    V::Text(""),       V::Integer(0),
             V::Bit(false),         V::Bit(false),  V::Text("note's"), V::Text(""),
             V::Text("pic")}}));
  EXPECT_EQ(site.Inst("Select ID From Names Where LastName = N'D''Arcy'"), (Rows{{V::Integer(6)}}));
  EXPECT_EQ(site.Inst("Select resId From Notification Where email = N'n@x.org'"),
            (Rows{{V::Integer(6)}}));
  EXPECT_EQ(site.Inst("Select resId From NotificationF Where email = N'f@x.org'"),
            (Rows{{V::Integer(6)}}));
  // The address (quote kept) is the local e-mail row and first notification.
  EXPECT_EQ(site.Local("Select id, email From Emails Where resId = 6"),
            (Rows{{V::Integer(3), V::Text("d'arcy@example.com")}}));
  EXPECT_EQ(site.Local("Select email From Notification Where resId = 6"),
            (Rows{{V::Text("d'arcy@example.com")}}));
  EXPECT_EQ(site.Home("Select instId, emailId, resId From Emails Where email In "
                      "(N'd''arcy@example.com', N'other@example.com') Order By instId"),
            (Rows{{V::Integer(42), V::Integer(3), V::Integer(6)},
                  {V::Integer(43), V(), V::Integer(-1)}}));
  EXPECT_FALSE(site.Queued(6));

  // Asked again: no central resident with a negative id is left.
  EXPECT_EQ(site.Apply("7|0|NamesA|0"), CentralChangeResult::Applied);
  EXPECT_EQ(site.Count("Names"), 6);
  EXPECT_EQ(site.sent.size(), 1u);
  EXPECT_FALSE(site.Queued(7));
  EXPECT_TRUE(site.logged.empty()) << site.Log();
}

TEST(NamesA, WithoutCompanyOrEmailSortsByNameAndSendsNothing) {
  ChangeSite site;
  AddCentralResident(site, -2, "N'Li'", "N'Wei'", "N''");
  EXPECT_EQ(site.Apply("8|99|NamesA|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Local("Select lastName, sortfield From Names Where id = 5"),
            (Rows{{V::Text("Li"), V::Text("Li, Wei")}}));
  EXPECT_EQ(site.Inst("Select ID From Names Where LastName = N'Li'"), (Rows{{V::Integer(5)}}));
  EXPECT_EQ(site.Count("Emails"), 2);
  EXPECT_TRUE(site.sent.empty());

  // A Null company cannot be written: the change fails before anything is
  // inserted and the central row keeps its negative id.
  AddCentralResident(site, -5, "N'Later'", "Null", "Null");
  EXPECT_EQ(site.Apply("9|0|NamesA|0"), CentralChangeResult::Failed);
  EXPECT_EQ(site.Inst("Select ID From Names Where ID < 0"), (Rows{{V::Integer(-5)}}));
  EXPECT_EQ(site.logged.size(), 1u);
  EXPECT_FALSE(site.Queued(9));
  EXPECT_EQ(site.Count("Names"), 5);
}

// The local connection as SQL Server answers it for tables whose id is not
// an identity column: SCOPE_IDENTITY() is Null after their inserts (the
// embedded engine would give SQLite's row number).
class NoIdentityConnection : public db::Connection {
 public:
  explicit NoIdentityConnection(db::Connection& inner) : inner_(inner) {}
  void Open(const db::ConnectionParams& params) override { inner_.Open(params); }
  bool IsOpen() const override { return inner_.IsOpen(); }
  void Close() override { inner_.Close(); }
  void SetCommandTimeout(int seconds) override { inner_.SetCommandTimeout(seconds); }
  std::int64_t Execute(const std::string& sql) override { return inner_.Execute(sql); }
  std::unique_ptr<db::Rowset> Query(const std::string& sql, db::Cursor cursor) override {
    std::string text = sql;
    const std::string call = "SCOPE_IDENTITY()";
    if (const auto at = text.find(call); at != std::string::npos)
      text.replace(at, call.size(), "Null");
    return inner_.Query(text, cursor);
  }
  std::string CurrentDatabase() override { return inner_.CurrentDatabase(); }
  void SetCurrentDatabase(const std::string& name) override { inner_.SetCurrentDatabase(name); }
  bool StoreFileInColumn(const std::string& table, const std::string& column, std::int64_t id,
                         const std::filesystem::path& file) override {
    return inner_.StoreFileInColumn(table, column, id, file);
  }
  bool ReadColumn(const std::string& table, const std::string& column, std::int64_t id,
                  const db::ColumnSink& sink) override {
    return inner_.ReadColumn(table, column, id, sink);
  }

 private:
  db::Connection& inner_;
};

TEST(NamesA, WithoutAnIdentityTheNewLocalRowIsTheOneWithTheLargestIdNeverZero) {
  struct Site : ChangeSite {
    db::Connection* LocalConnection() override { return &noIdentity; }
    NoIdentityConnection noIdentity{local()};
  } site;
  // A table whose id is a plain int key.
  site.local().Execute(
      "Create Table Plain (id int NOT NULL PRIMARY KEY, label nvarchar(9));"
      "Insert Into Plain (id, label) Values (3, N'a'), (9, N'b');");
  EXPECT_EQ(
      sync::InsertReturningId(site.noIdentity, "Plain", "Insert Into Plain Values (12, N'c');"),
      12);
  EXPECT_THROW(
      sync::InsertReturningId(site.noIdentity, "Gone", "Insert Into Plain Values (13, N'd');"),
      db::DbError);

  // "NamesA" and "AdditionalPhotos" on such a site take the new rows' ids.
  AddCentralResident(site, -2, "N'Li'", "N'Wei'", "N''");
  site.installation->Execute("Insert Into AdditionalPhotos (id, photo, label, resId) Values (-3, " +
                             BinaryLiteral(kAdditionalPhoto) + ", N'Gate', 2)");
  EXPECT_EQ(site.Apply("8|99|NamesA|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Apply("9|2|AdditionalPhotos|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Inst("Select ID From Names Where LastName = N'Li'"), (Rows{{V::Integer(5)}}));
  EXPECT_EQ(site.Inst("Select id From AdditionalPhotos Where label = N'Gate'"),
            (Rows{{V::Integer(4)}}));
  EXPECT_EQ(site.Local("Select label, photo From AdditionalPhotos Where id = 4"),
            (Rows{{V::Text("Gate"), V::Binary(kAdditionalPhoto)}}));
  EXPECT_TRUE(site.logged.empty()) << site.Log();
}

TEST(NamesU, CopiesNameFieldsAndReconcilesTheEmailRow) {
  ChangeSite site;
  site.installation->Execute(
      "Update Names Set LastName = N'O''Brien-Ward', FirstName = N'Seán', suite = N'1''0', "
      "Company = N'', dmCode = Null, notes1 = N'a''b', notes2 = Null, photoDescr = Null "
      "Where ID = 1");

  // Resident 1: equal addresses, nothing sent.
  EXPECT_EQ(site.Apply("1|1|NamesU|"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Local("Select lastName, firstName, suite, company, dmCode, notes1, notes2, "
                       "photoDescr From Names Where id = 1"),
            (Rows{{V::Text("O'Brien-Ward"), V::Text("Seán"), V::Text("1'0"), V::Text(""),
                   V::Text(""), V::Text("a'b"), V::Text(""), V::Text("")}}));
  EXPECT_TRUE(site.sent.empty());

  // Resident 2: a different central address replaces the local one.
  site.home->Execute("Update Emails Set email = N'w''ang@例子.cn' Where resId = 2");
  EXPECT_EQ(site.Apply("2|2|NamesU|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Local("Select email From Emails Where resId = 2"),
            (Rows{{V::Text("w'ang@例子.cn")}}));
  EXPECT_EQ(site.sent, std::vector<std::string>{"SDWC 42§2"});

  // Resident 4 has no local row yet: made from the central one, reported.
  site.home->Execute(
      "Insert Into Emails (instId, resId, email) Values (42, 4, N'l''arge@x.org'), "
      "(43, 4, N'other@x.org')");
  EXPECT_EQ(site.Apply("3|4|NamesU|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Local("Select id, email From Emails Where resId = 4"),
            (Rows{{V::Integer(3), V::Text("l'arge@x.org")}}));
  EXPECT_EQ(site.Local("Select email From Notification Where resId = 4"),
            (Rows{{V::Text("l'arge@x.org")}}));
  EXPECT_EQ(site.Home("Select instId, emailId From Emails Where resId = 4 Order By instId"),
            (Rows{{V::Integer(42), V::Integer(3)}, {V::Integer(43), V()}}));
  EXPECT_EQ(site.sent.back(), "SDWE 42§4");

  // Resident 3 has no central Names row: its e-mail row is still reconciled.
  site.home->Execute("Insert Into Emails (instId, resId, email) Values (42, 3, N'h@x.org')");
  EXPECT_EQ(site.Apply("4|3|NamesU|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Local("Select lastName From Names Where id = 3"), (Rows{{V::Text("Hidden")}}));
  EXPECT_EQ(site.Local("Select email From Emails Where resId = 3"), (Rows{{V::Text("h@x.org")}}));
  EXPECT_EQ(site.sent.back(), "SDWE 42§3");

  // The central row of resident 1 is gone: the local one goes too, silently.
  site.home->Execute("Delete From Emails Where resId = 1");
  const std::size_t sent = site.sent.size();
  EXPECT_EQ(site.Apply("5|1|NamesU|0"), CentralChangeResult::Applied) << site.Log();
  EXPECT_EQ(site.Count("Emails Where resId = 1"), 0);
  EXPECT_EQ(site.sent.size(), sent);
  EXPECT_TRUE(site.logged.empty()) << site.Log();
  for (int id = 1; id <= 5; ++id) EXPECT_FALSE(site.Queued(id)) << id;
}

}  // namespace
}  // namespace pv::testsite
