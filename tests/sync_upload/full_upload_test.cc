// The full upload against real embedded local and central instances: what
// arrives centrally is read back and compared with the local rows, photos
// byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "db/embedded/embedded_engine.h"
#include "tests/support/sample_site.h"
#include "tests/support/site.h"

namespace pv::testsite {
namespace {

using sync::FullUploadResult;

db::Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return db::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The log lines of a run, for failure messages.
std::string Logged(const UploadSite& site) {
  std::string out;
  for (const LoggedLine& l : site.logged) {
    out += l.message + " - " + std::to_string(l.number) + " - " + l.detail + "\n";
  }
  return out;
}

TEST(FullUpload, CopiesTheWholeSiteRowByRowAndPhotoByPhoto) {
  UploadSite site;
  FillSampleSite(site.local());
  site.AddInstallations(43);
  {
    auto home = site.CentralDb();
    home->Execute("Insert Into Emails (instId, emailId, resId, email) Values (42, 99, 99, N'old')");
    home->Execute("Insert Into Emails (instId, emailId, resId, email) Values (43, 1, 1, N'other')");
  }

  EXPECT_EQ(site.Upload("42"), FullUploadResult::Completed);
  EXPECT_EQ(site.sent, std::vector<std::string>{"DASN"});
  EXPECT_TRUE(site.logged.empty()) << Logged(site);
  EXPECT_EQ(site.Central().get(), nullptr) << "central connection left open";

  ExpectSampleSiteCopied(site.local(), *site.CentralDb("Installation00042"));

  // The home database: this installation's row refreshed, its e-mail rows
  // replaced, another installation's left alone.
  auto home = site.CentralDb();
  EXPECT_EQ(Dump(*home, "Select locName, sqlPWD, zip From Installations Where id = 42"),
            (Rows{{db::Value::Text("Résidence d'Été"), db::Value::Text(kLocalPassword),
                   db::Value::Text("H2X 1Y4")}}));
  EXPECT_EQ(Dump(*home, "Select locName From Installations Where id = 41"),
            (Rows{{db::Value::Text("before")}}));
  EXPECT_EQ(
      Dump(*home, "Select emailId, resId, email From Emails Where instId = 42 Order By emailId"),
      Dump(site.local(), "Select id, resId, email From Emails Order By id"));
  EXPECT_EQ(Dump(*home, "Select email From Emails Where instId = 43"),
            (Rows{{db::Value::Text("other")}}));

  // The temp files keep the last photo of their kind.
  EXPECT_EQ(ReadFile(site.appFolder() / "photos" / "temp_00042.jpg"), kAdditionalPhoto);
  EXPECT_EQ(ReadFile(site.appFolder() / "photos" / "temp_00042_2.jpg"), kLogPhoto2);
}

TEST(FullUpload, QuotesAndNonLatinLettersArriveIntact) {
  UploadSite site;
  FillSampleSite(site.local());
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed);
  auto central = site.CentralDb("Installation00042");
  EXPECT_EQ(
      Dump(*central, "Select lastName, firstName, button1Comm, dmCode From Names Where id = 1"),
      (Rows{{db::Value::Text("O'Brien"), db::Value::Text("Seán"), db::Value::Text("It's me"),
             db::Value::Text("D'1")}}));
  EXPECT_EQ(Dump(*central, "Select lastName, firstName, company From Names Where id = 2"),
            (Rows{{db::Value::Text("王"), db::Value::Text("小明"), db::Value::Text("王氏公司")}}));
  EXPECT_EQ(Dump(*central, "Select email From NotificationF"),
            (Rows{{db::Value::Text("o'brien@example.com")}}));
}

TEST(FullUpload, LogRowWithBothPhotosStoresEachInItsOwnColumn) {
  UploadSite site;
  FillSampleSite(site.local());
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed);
  auto central = site.CentralDb("Installation00042");
  EXPECT_EQ(Dump(*central, "Select photo, photo2 From Logs Where id = 1"),
            (Rows{{db::Value::Binary(kLogPhoto), db::Value::Binary(kLogPhoto2)}}));
  EXPECT_EQ(Dump(*central, "Select photo, photo2 From Logs Where id = 2"),
            (Rows{{db::Value::Binary(kSingleLogPhoto), db::Value()}}));
  EXPECT_EQ(Dump(*central, "Select photo, photo2 From Logs Where id = 3"),
            (Rows{{db::Value(), db::Value()}}));
}

TEST(FullUpload, AdditionalPhotosWithoutPhotoAreNotCopied) {
  UploadSite site;
  FillSampleSite(site.local());
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed);
  auto central = site.CentralDb("Installation00042");
  EXPECT_EQ(Dump(*central, "Select id, label, resId, photo From AdditionalPhotos"),
            (Rows{{db::Value::Integer(1), db::Value::Text("Car"), db::Value::Integer(1),
                   db::Value::Binary(kAdditionalPhoto)}}));
}

TEST(FullUpload, NullsTakeTheirFormsDefaults) {
  UploadSite site;
  auto& local = site.local();
  local.Execute(
      "Insert Into Names (resType, lastName, firstName, suite, company, button1Type, button2Type, "
      "button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, phone3, "
      "button3Loc, button3Comm, hide, hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr, "
      "dmCode, mailRoomID) Values (N'R', N'Doe', N'Jane', N'1', N'', Null, N'P', N'P', N'', N'', "
      "N'', N'', N'', N'', N'', N'', N'', 0, 0, 0, 0, Null, N'text', Null, Null, Null)");
  local.Execute(
      "Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, codeMon, "
      "codeTue, codeWed, codeThr, codeFri, codeSat, codeSun, numericalCode) Values "
      "(1, N'55', N'd', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, Null)");
  local.Execute("Insert Into Entries (entryId, entryName) Values (3, N'Side')");
  local.Execute(
      "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values "
      "(5, N'Crate', N'crate.png')");
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed) << Logged(site);

  auto central = site.CentralDb("Installation00042");
  EXPECT_EQ(Dump(*central,
                 "Select button1Type, notes1, notes2, photoDescr, mailRoomID, dmCode "
                 "From Names"),
            (Rows{{db::Value::Text(""), db::Value(), db::Value::Text("text"), db::Value(),
                   db::Value(), db::Value::Text("")}}));
  EXPECT_EQ(Dump(*central, "Select numericalCode, accessType0, accessType5 From TenantAccess"),
            (Rows{{db::Value::Text(""), db::Value::Bit(false), db::Value::Bit(false)}}));
  EXPECT_EQ(Dump(*central, "Select mesLine1, version From Entries"),
            (Rows{{db::Value::Text(""), db::Value::Text("")}}));
}

TEST(FullUpload, EmptyTablesStillGiveDasn) {
  UploadSite site;
  EXPECT_EQ(site.Upload("42"), FullUploadResult::Completed);
  EXPECT_EQ(site.sent, std::vector<std::string>{"DASN"});
  EXPECT_TRUE(site.logged.empty());
  auto central = site.CentralDb("Installation00042");
  for (const char* table :
       {"Names", "TenantAccess", "Notification", "NotificationF", "Packages", "Packages_Types",
        "Packages_Settings", "Logs", "Entries", "PinkNotes", "AdditionalPhotos"}) {
    EXPECT_EQ(Dump(*central, std::string("Select Count(*) From ") + table),
              (Rows{{db::Value::Integer(0)}}))
        << table;
  }
}

TEST(FullUpload, NullLastNameStopsTheRunAndKeepsEarlierRows) {
  UploadSite site;
  FillSampleSite(site.local());
  site.local().Execute("Update Names Set lastName = Null Where id = 4");
  EXPECT_EQ(site.Upload("42"), FullUploadResult::Failed);
  EXPECT_TRUE(site.sent.empty());
  ASSERT_EQ(site.logged.size(), 1u);
  EXPECT_EQ(site.logged[0].message, "TransferDataToCX()");
  EXPECT_EQ(site.logged[0].number, 94);
  EXPECT_NE(site.logged[0].detail.find("lastName"), std::string::npos) << Logged(site);
  EXPECT_EQ(site.Central().get(), nullptr);

  auto central = site.CentralDb("Installation00042");
  EXPECT_EQ(Dump(*central, "Select id From Names Order By id"),
            (Rows{{db::Value::Integer(1)}, {db::Value::Integer(2)}}));
  EXPECT_EQ(Dump(*central, "Select Count(*) From TenantAccess"), (Rows{{db::Value::Integer(0)}}));
}

TEST(FullUpload, SiteWithoutMailRoomWritesNullAndSkipsPackagesSettings) {
  UploadSite site(/*mailRoom=*/false);
  site.local().Execute(
      "Insert Into Names (resType, lastName, firstName, suite, company, button1Type, button2Type, "
      "button3Type, phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, phone3, "
      "button3Loc, button3Comm, hide, hideBut1, hideBut2, hideBut3) Values (N'R', N'Doe', "
      "N'Jane', N'1', N'', N'P', N'P', N'P', N'', N'', N'', N'', N'', N'', N'', N'', N'', 0, 0, 0, "
      "0)");
  site.local().Execute("Insert Into Packages_Settings (id, mailRoomName) Values (1, N'Room')");
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed) << Logged(site);
  auto central = site.CentralDb("Installation00042");
  EXPECT_EQ(Dump(*central, "Select lastName, mailRoomID From Names"),
            (Rows{{db::Value::Text("Doe"), db::Value()}}));
  EXPECT_EQ(Dump(*central, "Select Count(*) From Packages_Settings"),
            (Rows{{db::Value::Integer(0)}}));
}

TEST(FullUpload, InstallationNumberNamesTheDatabaseAndTheTempFiles) {
  UploadSite site;
  FillSampleSite(site.local());
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed);
  auto central = site.CentralDb("Installation00042");
  EXPECT_EQ(Dump(*central, "Select Count(*) From Names"), (Rows{{db::Value::Integer(3)}}));
  EXPECT_TRUE(std::filesystem::exists(site.appFolder() / "photos" / "temp_00042.jpg"));
  EXPECT_TRUE(std::filesystem::exists(site.appFolder() / "photos" / "temp_00042_2.jpg"));

  // A six-digit id is not cut.
  ASSERT_EQ(site.Upload("123456"), FullUploadResult::Completed);
  EXPECT_EQ(Dump(*site.CentralDb("Installation123456"), "Select Count(*) From Names"),
            (Rows{{db::Value::Integer(3)}}));
  EXPECT_TRUE(std::filesystem::exists(site.appFolder() / "photos" / "temp_123456.jpg"));
}

TEST(FullUpload, InstallationIdWithLettersFailsBeforeTheFirstStatement) {
  for (const char* id : {"4x2", "abc", "", "42; Drop Table Emails"}) {
    UploadSite site;
    FillSampleSite(site.local());
    {
      auto home = site.CentralDb();
      home->Execute(
          "Insert Into Emails (instId, emailId, resId, email) Values (42, 1, 1, N'kept')");
    }
    EXPECT_EQ(site.Upload(id), FullUploadResult::Failed) << id;
    EXPECT_TRUE(site.sent.empty());
    ASSERT_EQ(site.logged.size(), 1u) << id;
    EXPECT_EQ(site.logged[0].message, "TransferDataToCX()");
    EXPECT_EQ(site.logged[0].number, 13);
    EXPECT_EQ(site.centralStatements(), 0) << id;
    EXPECT_EQ(site.Central().get(), nullptr);
    EXPECT_EQ(Dump(*site.CentralDb(), "Select email From Emails"), (Rows{{db::Value::Text("kept")}}));
    EXPECT_THROW(site.CentralDb("Installation00000"), db::DbError) << id;
    EXPECT_THROW(site.CentralDb("Installation00004"), db::DbError) << id;
  }
}

TEST(FullUpload, SecondRunGivesTheSameCentralContentAndKeepsPinkNotes) {
  UploadSite site;
  FillSampleSite(site.local());
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed);
  {
    auto central = site.CentralDb("Installation00042");
    central->Execute(
        "Insert Into PinkNotes (parentId, mText, subject, mDate, toResId, fromResId, urgent, "
        "mustAcknowledge, toMState, fromMState) Values (0, N'Hello', N'Hi', "
        "'2026-05-01T10:00:00', 1, 2, 0, 1, N'N', N'S')");
  }
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed);
  EXPECT_EQ(site.sent, (std::vector<std::string>{"DASN", "DASN"}));
  ExpectSampleSiteCopied(site.local(), *site.CentralDb("Installation00042"));
  auto home = site.CentralDb();
  EXPECT_EQ(Dump(*home, "Select Count(*) From Emails Where instId = 42"),
            (Rows{{db::Value::Integer(2)}}));
  auto central = site.CentralDb("Installation00042");
  EXPECT_EQ(Dump(*central, "Select mText, subject From PinkNotes"),
            (Rows{{db::Value::Text("Hello"), db::Value::Text("Hi")}}));
}

TEST(FullUpload, CentralInstanceOfflineSendsAndLogsNothing) {
  UploadSite site;
  FillSampleSite(site.local());
  site.SetCentralOnline(false);
  EXPECT_EQ(site.Upload("42"), FullUploadResult::NotConnected);
  EXPECT_TRUE(site.sent.empty());
  EXPECT_TRUE(site.logged.empty());
  site.SetCentralOnline(true);
  EXPECT_THROW(site.CentralDb("Installation00042"), db::DbError);
}

TEST(FullUpload, CentralGoingOfflineMidRunIsLoggedWithoutDasn) {
  UploadSite site;
  FillSampleSite(site.local());
  // Past the Installations update, the e-mail rows and the first residents.
  site.TakeCentralOfflineAtStatement(30);
  EXPECT_EQ(site.Upload("42"), FullUploadResult::Failed);
  EXPECT_TRUE(site.sent.empty());
  ASSERT_GE(site.logged.size(), 1u);
  EXPECT_EQ(site.logged.back().message, "TransferDataToCX()");
  EXPECT_NE(site.logged.back().number, 0);
  EXPECT_EQ(site.Central().get() == nullptr || !site.Central().get()->IsOpen(), true);

  // Back online, the next order copies everything.
  site.SetCentralOnline(true);
  site.TakeCentralOfflineAtStatement(0);
  site.logged.clear();
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed);
  ExpectSampleSiteCopied(site.local(), *site.CentralDb("Installation00042"));
}

TEST(FullUpload, InstallationDatabaseNotCurrentEndsSilentlyAndClosesTheConnection) {
  UploadSite site;
  FillSampleSite(site.local());
  site.refuseDatabaseCreation = true;
  EXPECT_EQ(site.Upload("42"), FullUploadResult::WrongDatabase);
  EXPECT_TRUE(site.sent.empty());
  EXPECT_TRUE(site.logged.empty());
  EXPECT_EQ(site.Central().get(), nullptr);
  EXPECT_EQ(Dump(*site.CentralDb(), "Select Count(*) From Emails"), (Rows{{db::Value::Integer(0)}}));
}

TEST(FullUpload, UnwritableTempPhotoFileEndsTheRun) {
  UploadSite site;
  FillSampleSite(site.local());
  std::filesystem::remove_all(site.appFolder() / "photos");
  EXPECT_EQ(site.Upload("42"), FullUploadResult::Failed);
  EXPECT_TRUE(site.sent.empty());
  ASSERT_EQ(site.logged.size(), 1u);
  EXPECT_EQ(site.logged[0].message, "TransferDataToCX()");
  EXPECT_EQ(site.logged[0].number, 3004);
  auto central = site.CentralDb("Installation00042");
  EXPECT_EQ(Dump(*central, "Select id, photo From Names"),
            (Rows{{db::Value::Integer(1), db::Value()}}));
}

}  // namespace
}  // namespace pv::testsite
