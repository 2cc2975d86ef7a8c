// The full upload against real embedded local and central instances: what
// arrives centrally is read back and compared with the local rows, photos
// byte for byte.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/sample_site.h"
#include "tests/support/site.h"
#include "tests/support/temp_dir.h"

namespace pv::testsite {
namespace {

using sync::FullUploadResult;
using V = db::Value;

std::string Text(const db::Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(FullUpload, CopiesTheWholeSiteRowByRowAndPhotoByPhoto) {
  UploadSite site;
  FillSampleSite(site.local());
  site.AddInstallations(43);
  site.CentralDb()->Execute(
      "Insert Into Emails (instId, emailId, resId, email) Values (42, 99, 99, N'old'), "
      "(43, 1, 1, N'other')");

  EXPECT_EQ(site.Upload("42"), FullUploadResult::Completed);
  EXPECT_EQ(site.sent, std::vector<std::string>{"DASN"});
  EXPECT_TRUE(site.logged.empty()) << site.Log();
  EXPECT_EQ(site.Central().get(), nullptr) << "central connection left open";

  ExpectSampleSiteCopied(site.local(), *site.CentralDb("Installation00042"));

  // The home database: this installation's row refreshed, its e-mail rows
  // replaced, another installation's left alone.
  auto home = site.CentralDb();
  EXPECT_EQ(Dump(*home, "Select locName, sqlPWD, zip From Installations Where id = 42"),
            (Rows{{V::Text("Résidence d'Été"), V::Text(kLocalPassword), V::Text("H2X 1Y4")}}));
  EXPECT_EQ(Dump(*home, "Select locName From Installations Where id = 41"),
            (Rows{{V::Text("before")}}));
  EXPECT_EQ(
      Dump(*home, "Select emailId, resId, email From Emails Where instId = 42 Order By emailId"),
      Dump(site.local(), "Select id, resId, email From Emails Order By id"));
  EXPECT_EQ(Dump(*home, "Select email From Emails Where instId = 43"), (Rows{{V::Text("other")}}));

  // The temp files keep the last photo of their kind.
  const auto photos = site.appFolder() / "photos";
  EXPECT_EQ(testing::ReadFile(photos / "temp_00042.jpg"), Text(kAdditionalPhoto));
  EXPECT_EQ(testing::ReadFile(photos / "temp_00042_2.jpg"), Text(kLogPhoto2));
}

TEST(FullUpload, NullsTakeTheirFormsDefaults) {
  UploadSite site;
  auto& local = site.local();
  local.Execute(ResidentInsert({{"button1Type", "Null"}, {"notes2", "N'text'"}}));
  local.Execute(
      "Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, codeMon, "
      "codeTue, codeWed, codeThr, codeFri, codeSat, codeSun, numericalCode) Values "
      "(1, N'55', N'd', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, Null)");
  local.Execute("Insert Into Entries (entryId, entryName) Values (3, N'Side')");
  local.Execute(
      "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values "
      "(5, N'Crate', N'crate.png')");
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed) << site.Log();

  auto central = site.CentralDb("Installation00042");
  EXPECT_EQ(Dump(*central,
                 "Select button1Type, notes1, notes2, photoDescr, mailRoomID, dmCode "
                 "From Names"),
            (Rows{{V::Text(""), V(), V::Text("text"), V(), V(), V::Text("")}}));
  EXPECT_EQ(Dump(*central, "Select numericalCode, accessType0, accessType5 From TenantAccess"),
            (Rows{{V::Text(""), V::Bit(false), V::Bit(false)}}));
  EXPECT_EQ(Dump(*central, "Select mesLine1, version From Entries"),
            (Rows{{V::Text(""), V::Text("")}}));
}

// The rows of a table travel in transactions: a failing row rolls back the
// rows of its own transaction only; with batches turned off every row before
// it stays.
TEST(FullUpload, NullLastNameStopsTheRunAndRollsBackOnlyItsOpenBatch) {
  for (const int batch : {500, 2, 0}) {
    UploadSite site;
    site.batchRows = batch;
    FillSampleSite(site.local());
    site.local().Execute("Update Names Set lastName = Null Where id = 4");
    EXPECT_EQ(site.Upload("42"), FullUploadResult::Failed);
    EXPECT_TRUE(site.sent.empty());
    ASSERT_EQ(site.logged.size(), 1u);
    EXPECT_EQ(site.logged[0].message, "TransferDataToCX()");
    EXPECT_EQ(site.logged[0].number, 94);
    EXPECT_NE(site.logged[0].detail.find("lastName"), std::string::npos) << site.Log();
    EXPECT_EQ(site.Central().get(), nullptr);

    auto central = site.CentralDb("Installation00042");
    const Rows kept = batch == 500 ? Rows{} : Rows{{V::Integer(1)}, {V::Integer(2)}};
    EXPECT_EQ(Dump(*central, "Select id From Names Order By id"), kept) << batch;
    EXPECT_EQ(Dump(*central, "Select Count(*) From TenantAccess"), (Rows{{V::Integer(0)}}));
    // The home database's e-mail rows, sent before, were committed.
    EXPECT_NE(Dump(*site.CentralDb(), "Select Count(*) From Emails"), (Rows{{V::Integer(0)}}));
  }
}

// Every other table empty, and no Settings row.
TEST(FullUpload, SiteWithoutMailRoomWritesNullAndSkipsPackagesSettings) {
  UploadSite site(/*mailRoom=*/false);
  site.local().Execute(ResidentInsert());
  site.local().Execute("Insert Into Packages_Settings (id, mailRoomName) Values (1, N'Room')");
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed) << site.Log();
  EXPECT_EQ(site.sent, std::vector<std::string>{"DASN"});
  auto central = site.CentralDb("Installation00042");
  EXPECT_EQ(Dump(*central, "Select lastName, mailRoomID From Names"),
            (Rows{{V::Text("Doe"), V()}}));
  EXPECT_EQ(Dump(*central, "Select Count(*) From Packages_Settings"), (Rows{{V::Integer(0)}}));
}

TEST(FullUpload, InstallationIdIsANumberOrNothingIsWritten) {
  UploadSite site;
  FillSampleSite(site.local());
  site.CentralDb()->Execute(
      "Insert Into Emails (instId, emailId, resId, email) Values (42, 1, 1, N'kept')");
  for (const char* id : {"4x2", "abc", "", "42; Drop Table Emails"}) {
    site.logged.clear();
    EXPECT_EQ(site.Upload(id), FullUploadResult::Failed) << id;
    ASSERT_EQ(site.logged.size(), 1u) << id;
    EXPECT_EQ(site.logged[0].message, "TransferDataToCX()");
    EXPECT_EQ(site.logged[0].number, 13);
    EXPECT_EQ(site.Central().get(), nullptr);
  }
  EXPECT_TRUE(site.sent.empty());
  EXPECT_EQ(site.centralStatements(), 0);
  EXPECT_EQ(Dump(*site.CentralDb(), "Select email From Emails"), (Rows{{V::Text("kept")}}));
  EXPECT_THROW(site.CentralDb("Installation00000"), db::DbError);
  EXPECT_THROW(site.CentralDb("Installation00004"), db::DbError);

  // A six-digit number is not cut.
  ASSERT_EQ(site.Upload("123456"), FullUploadResult::Completed);
  EXPECT_EQ(Dump(*site.CentralDb("Installation123456"), "Select Count(*) From Names"),
            (Rows{{V::Integer(3)}}));
  EXPECT_TRUE(std::filesystem::exists(site.appFolder() / "photos" / "temp_123456.jpg"));
}

TEST(FullUpload, SecondRunGivesTheSameCentralContentAndKeepsPinkNotes) {
  UploadSite site;
  FillSampleSite(site.local());
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed);
  site.CentralDb("Installation00042")
      ->Execute(
          "Insert Into PinkNotes (parentId, mText, subject, mDate, toResId, fromResId, urgent, "
          "mustAcknowledge, toMState, fromMState) Values (0, N'Hello', N'Hi', "
          "'2026-05-01T10:00:00', 1, 2, 0, 1, N'N', N'S')");
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed);
  EXPECT_EQ(site.sent, (std::vector<std::string>{"DASN", "DASN"}));
  auto central = site.CentralDb("Installation00042");
  ExpectSampleSiteCopied(site.local(), *central);
  EXPECT_EQ(Dump(*site.CentralDb(), "Select Count(*) From Emails Where instId = 42"),
            (Rows{{V::Integer(2)}}));
  EXPECT_EQ(Dump(*central, "Select mText, subject From PinkNotes"),
            (Rows{{V::Text("Hello"), V::Text("Hi")}}));
}

TEST(FullUpload, UnreachableServerOrRefusedDatabaseEndsSilently) {
  UploadSite site;
  FillSampleSite(site.local());
  site.SetCentralOnline(false);
  EXPECT_EQ(site.Upload("42"), FullUploadResult::NotConnected);
  site.SetCentralOnline(true);
  site.refuseDatabaseCreation = true;
  EXPECT_EQ(site.Upload("42"), FullUploadResult::WrongDatabase);
  EXPECT_TRUE(site.sent.empty());
  EXPECT_TRUE(site.logged.empty());
  EXPECT_EQ(site.Central().get(), nullptr);
  EXPECT_THROW(site.CentralDb("Installation00042"), db::DbError);
  EXPECT_EQ(Dump(*site.CentralDb(), "Select Count(*) From Emails"), (Rows{{V::Integer(0)}}));
}

TEST(FullUpload, CentralGoingOfflineOrAStopMidRunEndsItWithoutDasnAndTheNextOrderCopiesAll) {
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

  // Asked to stop, the run ends at the next row, logged, without "DASN".
  site.SetCentralOnline(true);
  site.TakeCentralOfflineAtStatement(0);
  site.logged.clear();
  site.stopAfterStatements = site.centralStatements() + 30;
  EXPECT_EQ(site.Upload("42"), FullUploadResult::Stopped);
  EXPECT_LT(site.centralStatements(), site.stopAfterStatements + 4);
  EXPECT_TRUE(site.sent.empty());
  ASSERT_EQ(site.logged.size(), 1u) << site.Log();
  EXPECT_EQ(site.logged[0].detail, sync::kStoppedText);

  // The next order copies everything.
  site.stopAfterStatements = 0;
  site.logged.clear();
  ASSERT_EQ(site.Upload("42"), FullUploadResult::Completed);
  ExpectSampleSiteCopied(site.local(), *site.CentralDb("Installation00042"));
}

TEST(FullUpload, APhotoThatCannotBeWrittenOrStoredEndsTheRunWithoutDasn) {
  UploadSite site;
  FillSampleSite(site.local());
  // The photo folder is a file: no temp photo file can be made.
  const auto photos = site.appFolder() / "photos";
  std::filesystem::remove_all(photos);
  testing::WriteFile(photos.string(), "");
  EXPECT_EQ(site.Upload("42"), FullUploadResult::Failed);
  ASSERT_EQ(site.logged.size(), 1u);
  EXPECT_EQ(site.logged[0].message, "TransferDataToCX()");
  EXPECT_EQ(site.logged[0].number, 3004);
  auto central = site.CentralDb("Installation00042");
  // The first resident's row went in the transaction the failure rolled back.
  EXPECT_EQ(Dump(*central, "Select id, photo From Names"), Rows{});

  // The central side refuses the store of the additional photos, the last
  // statements of the run.
  std::filesystem::remove(photos);
  std::filesystem::create_directory(photos);
  central->Execute("Drop Table AdditionalPhotos");
  central->Execute("Create Table AdditionalPhotos (id int, label nvarchar(100), resId int)");
  site.logged.clear();
  EXPECT_EQ(site.Upload("42"), FullUploadResult::Failed);
  EXPECT_EQ(site.logged.size(), 1u) << site.Log();
  EXPECT_TRUE(site.sent.empty());
}

}  // namespace
}  // namespace pv::testsite
