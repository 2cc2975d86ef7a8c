// Central changes applied to a local site on the embedded engine: the site is
// first copied to the central side by a full upload, central rows are then
// edited as the central side would, and each change order must bring the
// local rows to what the central side holds.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "tests/support/sample_site.h"
#include "tests/sync_changes/change_site.h"

namespace pv::testsite {
namespace {

using sync::CentralChangeResult;
using V = db::Value;

const db::Bytes kNewPhoto = PatternBytes(9000, 21);

const char kAccess[] =
    "Select resId, code, descr, codeDates, codeDays, codeTimes, codeStartDate, codeEndDate, "
    "codeStartTime, codeEndTime, codeMon, codeTue, codeWed, codeThr, codeFri, codeSat, codeSun, "
    "numericalCode, accessType0, accessType1, accessType2, accessType3, accessType4, accessType5 "
    "From TenantAccess ";

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
      "Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, "
      "codeStartDate, codeEndDate, codeStartTime, codeEndTime, codeMon, codeTue, codeWed, codeThr, "
      "codeFri, codeSat, codeSun, numericalCode, accessType0, accessType1, accessType2, "
      "accessType3, accessType4, accessType5) Values (1, N'1234', N'Seán', 1, 0, 1, "
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

  const Rows access = site.Local(std::string(kAccess) + "Where resId = 1 Order By code");
  ASSERT_EQ(access.size(), 2u);
  // The new code: quotes kept, Null access types False, Null numerical code empty.
  const std::vector<V>& fob = access[1];
  EXPECT_EQ(fob[1], V::Text("77'7"));
  EXPECT_EQ(fob[2], V::Text("O'Neil's fob"));
  EXPECT_EQ(fob[6], V::Date({2027, 5, 6, 7, 8, 9}));
  EXPECT_EQ(fob[17], V::Text(""));
  for (int k = 18; k < 24; ++k) EXPECT_EQ(fob[k], V::Bit(false)) << k;
  // The full code arrives as the central side holds it.
  EXPECT_EQ(access[0], site.Inst(std::string(kAccess) + "Where code = N'1234'").at(0));
  // Other residents keep theirs.
  EXPECT_EQ(site.Local("Select Count(*) From TenantAccess Where resId = 2"),
            (Rows{{V::Integer(1)}}));

  EXPECT_EQ(
      site.Local("Select resId, email From Notification Where resId = 1 Order By email"),
      (Rows{{V::Integer(1), V::Text("a'b@example.com")}, {V::Integer(1), V::Text("c@例子.cn")}}));
  EXPECT_EQ(site.Local("Select Count(*) From Notification Where resId = 2"),
            (Rows{{V::Integer(1)}}));
  EXPECT_EQ(site.Local("Select Count(*) From NotificationF"), (Rows{{V::Integer(0)}}));
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
  EXPECT_EQ(site.Local("Select phone1 From Names Where id = 1"), (Rows{{V::Text("555'9")}}));
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
    EXPECT_EQ(site.Local(std::string("Select Count(*) From ") + table + " Where resId = 1"),
              (Rows{{V::Integer(0)}}))
        << table;
  }
  EXPECT_EQ(site.Local("Select Count(*) From Names Where id = 1"), (Rows{{V::Integer(0)}}));
  EXPECT_EQ(site.Local("Select Count(*) From Packages Where nameId = 1"), (Rows{{V::Integer(0)}}));
  EXPECT_EQ(site.Local("Select Count(*) From STRPanelButtons Where resId = 2"),
            (Rows{{V::Integer(1)}}));
  EXPECT_EQ(site.Local("Select Count(*) From Names"), (Rows{{V::Integer(3)}}));
  EXPECT_TRUE(site.logged.empty()) << site.Log();
  for (int id = 1; id <= 5; ++id) EXPECT_FALSE(site.Queued(id)) << id;
}

db::Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return db::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(CentralChanges, PhotosArriveByteForByteAndLeaveTheCentralSide) {
  ChangeSite site;
  site.installation->Execute("Update Names Set photo = " + BinaryLiteral(kNewPhoto) +
                             ", photoDescr = N'new''s' Where ID = 1");
  site.installation->Execute("Update Names Set photo = Null, photoDescr = N'kept' Where ID = 4");
  site.installation->Execute("Insert Into AdditionalPhotos (id, photo, label, resId) Values (-3, " +
                             BinaryLiteral(kAdditionalPhoto) + ", N'Gate''s view', 2)");

  EXPECT_EQ(site.Apply("1|1|PhotoU|0"), CentralChangeResult::Applied);
  EXPECT_EQ(site.Local("Select photo, photoDescr From Names Where id = 1"),
            (Rows{{V::Binary(kNewPhoto), V::Text("new's")}}));
  EXPECT_EQ(site.Inst("Select photo From Names Where ID = 1"), (Rows{{V()}}));
  EXPECT_EQ(ReadFile(site.appFolder() / "photos" / "temp_00042.jpg"), kNewPhoto);

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
  EXPECT_EQ(ReadFile(site.appFolder() / "photos" / "temp_00042A.jpg"), kAdditionalPhoto);
  // Nothing left with a negative id: a second order adds nothing.
  EXPECT_EQ(site.Apply("4|2|AdditionalPhotos|0"), CentralChangeResult::Applied);
  EXPECT_EQ(site.Local("Select Count(*) From AdditionalPhotos"), (Rows{{V::Integer(4)}}));

  EXPECT_EQ(site.Apply("5|1|PhotoR|0"), CentralChangeResult::Applied);
  EXPECT_EQ(site.Local("Select photo, photoDescr From Names Where id = 1"),
            (Rows{{V(), V::Text("")}}));
  EXPECT_TRUE(site.logged.empty()) << site.Log();
  EXPECT_TRUE(site.sent.empty());
}

TEST(CentralChanges, FailuresAreLoggedAndStillRemoveTheQueueRow) {
  ChangeSite site;
  const Rows access = site.Local(std::string(kAccess) + "Order By resId");

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
  EXPECT_EQ(site.Local(std::string(kAccess) + "Order By resId"), access);
  EXPECT_EQ(site.Local("Select Count(*) From Names"), (Rows{{V::Integer(4)}}));
  EXPECT_EQ(site.Local("Select Count(*) From AdditionalPhotos"), (Rows{{V::Integer(3)}}));
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
  EXPECT_EQ(site.Local("Select Count(*) From TenantAccess Where resId = 2"),
            (Rows{{V::Integer(0)}}));

  // Central instance offline: nothing logged, the row stays.
  site.logged.clear();
  site.SetCentralOnline(false);
  EXPECT_EQ(site.Apply("11|1|NamesR|0"), CentralChangeResult::NotConnected);
  site.SetCentralOnline(true);
  EXPECT_TRUE(site.logged.empty());
  EXPECT_TRUE(site.Queued(11));
  EXPECT_EQ(site.Local("Select Count(*) From Names Where id = 1"), (Rows{{V::Integer(1)}}));
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

}  // namespace
}  // namespace pv::testsite
