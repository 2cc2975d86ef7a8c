// One queued change at a time on the sample site, uploaded first: local rows
// are changed the way the entry-control system changes them, each change is
// queued and uploaded, and the central side must equal the local side again.
#include "sync/queued_change.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <ctime>
#include <filesystem>
#include <memory>
#include <sstream>

#include "common/daily_log.h"
#include "sync/failed_changes.h"
#include "sync/queue_rows.h"
#include "sync/update_queue.h"
#include "sync/value_forms.h"
#include "tests/support/sample_site.h"
#include "tests/support/site.h"
#include "tests/support/temp_dir.h"

namespace pv::sync {
namespace {

using testsite::BinaryLiteral;
using testsite::Dump;
using testsite::PatternBytes;
using testsite::Rows;
using testsite::UploadSite;
using V = db::Value;

constexpr char kInstallation[] = "Installation00001";

// A sample site copied to installation 1, with the queue routines wired the
// way the service host wires them.
class QueueSite : public UploadSite {
 public:
  QueueSite() {
    testsite::FillSampleSite(local());
    AddInstallations(1);
    EXPECT_EQ(Upload("1"), FullUploadResult::Completed);
    sent.clear();
    logged.clear();
  }

  // Queues one change locally and uploads it at once.
  ChangeResult Work(const std::string& kind, int resId = 0, int recordId = 0,
                    const std::string& installationId = "1") {
    local().Execute("Insert Into UpdateQueue (tableName, resId, recordId) Values (N'" + kind +
                    "', " + std::to_string(resId) + ", " + std::to_string(recordId) + ")");
    this->installationId = installationId;
    const auto id = static_cast<std::int32_t>(GetTopID(local(), "UpdateQueue"));
    return TransferResDataToCX(*this, {id, kind, resId, recordId});
  }

  std::int64_t QueueLength() {
    return Dump(local(), "Select Count(*) From UpdateQueue").at(0).at(0).AsInteger();
  }
  std::string FailedChangesText() {
    return testing::ReadFile(FailedChangesPath(appFolder()).string());
  }
};

TEST(QueuedChange, EveryKindBringsTheCentralSideInStepWithTheLocalSide) {
  QueueSite site;
  db::Connection& local = site.local();
  // Residents: 1 rewritten, 5 added, 2 removed with everything of theirs.
  local.Execute(
      "Update Names Set lastName = N'O''Neill', notes1 = Null, photoDescr = N'side', "
      "mailRoomID = Null, hide = 1 Where id = 1");
  local.Execute(testsite::ResidentInsert({{"lastName", "N'D''Arcy'"},
                                          {"firstName", "N'Zoë'"},
                                          {"suite", "N'5'"},
                                          {"notes2", "N'n2'"},
                                          {"mailRoomID", "3"}}));
  ASSERT_EQ(GetTopID(local, "Names"), 5);
  for (const char* t : {"Names Where id", "TenantAccess Where resId", "Packages Where nameId",
                        "Notification Where resId", "NotificationF Where resId",
                        "AdditionalPhotos Where resId", "Emails Where resId"}) {
    local.Execute(std::string("Delete From ") + t + " = 2");
  }
  // Replaced per resident.
  local.Execute("Insert Into Notification (resId, email) Values (1, N'second@example.com')");
  local.Execute("Delete From NotificationF Where resId = 1");
  local.Execute(
      "Update TenantAccess Set descr = N'new ''code''', accessType5 = Null Where resId = 1");
  local.Execute("Update Emails Set email = N'neill@example.com' Where resId = 1");
  // Photos: a new photo for 4, photo of 1 cleared.
  const db::Bytes photo4 = PatternBytes(9000, 40);
  local.Execute("Update Names Set photo = " + BinaryLiteral(photo4) +
                ", photoDescr = N'new' Where id = 4");
  local.Execute("Update Names Set photo = Null, photoDescr = N'' Where id = 1");
  // Lookup tables replaced whole.
  local.Execute("Update Settings Set name = N'Chez ''Nous''', zip = Null");
  local.Execute(
      "Insert Into Entries (entryId, entryName, mesLine1, mesLine2, mesLine3, version) "
      "Values (3, N'Side', N'O''Hara', N'x', N'', N'3')");
  local.Execute("Update Packages_Types Set packageTypeLongName = N'Crate' Where id = 1");
  local.Execute("Insert Into Packages_Settings (id, mailRoomName) Values (2, N'Annex')");
  // Packages: 3 added and waiting, 1 removed (2 went with its resident).
  local.Execute(
      "Insert Into Packages (nameId, packageType, packageDate, pickupDate) Values "
      "(4, 2, '2026-05-01T10:00:00', Null), (1, 1, '2026-05-02T10:00:00', Null)");
  local.Execute("Delete From Packages Where id = 1");
  // A log entry with only its second photo, additional photos added, relabelled, removed.
  const db::Bytes logPhoto2 = PatternBytes(2500, 41);
  local.Execute(
      "Insert Into Logs (entryId, residentId, aDateTime, action, data, computerName, "
      "photo, photo2) Values (2, 4, '2026-05-03T11:12:13', N'Door', N'it''s', Null, "
      "Null, " +
      BinaryLiteral(logPhoto2) + ")");
  const db::Bytes extra = PatternBytes(3333, 42);
  local.Execute("Insert Into AdditionalPhotos (label, resId, photo) Values (N'Cat''s', 4, " +
                BinaryLiteral(extra) + ")");
  local.Execute("Update AdditionalPhotos Set label = N'Bike ''n'' car' Where id = 1");

  // Kind, resId and recordId of each change, in the order they are worked.
  std::istringstream steps(
      "NamesU 1 0  NamesA 5 0  NamesR 2 0  Notification 1 0  NotificationF 1 0  TenantAccess 1 0  "
      "Emails 1 0  PhotoA 4 0  PhotoR 1 0  Settings 0 0  Entries 0 0  Packages_Types 0 0  "
      "Packages_Settings 0 0  PackagesA 0 3  PackagesA 0 4  PackagesU 0 4  PackagesR 0 1  "
      "Logs 0 4  AdditionalPhotos 0 2  AdditionalPhotosL 0 1  Welcome 15 0  WelcomeC 5 0");
  std::string kind;
  int resId = 0, recordId = 0;
  while (steps >> kind >> resId >> recordId) {
    if (kind == "PackagesU")
      local.Execute("Update Packages Set pickupDate = '2026-05-04T08:00:00' Where id = 4");
    EXPECT_EQ(site.Work(kind, resId, recordId), ChangeResult::Uploaded) << kind;
  }
  // An additional photo arrives with its bytes, and goes again.
  auto inst = site.CentralDb(kInstallation);
  const std::string photo4Query =
      "Select id, label, resId, photo From AdditionalPhotos Where id = 4";
  EXPECT_EQ(site.Work("AdditionalPhotos", 0, 4), ChangeResult::Uploaded);
  EXPECT_EQ(Dump(*inst, photo4Query), Dump(local, photo4Query));
  EXPECT_EQ(Dump(*inst, photo4Query).at(0).at(3), V::Binary(extra));
  local.Execute("Delete From AdditionalPhotos Where id = 4");
  EXPECT_EQ(site.Work("AdditionalPhotosR", 0, 4), ChangeResult::Uploaded);

  ASSERT_TRUE(site.logged.empty()) << site.logged.front().message << site.logged.front().detail;
  // Where a Null is written as a default, the local side is brought to that
  // default before the two sides are compared.
  local.Execute("Update Names Set dmCode = N'' Where id = 5");
  local.Execute("Update TenantAccess Set accessType5 = 0 Where resId = 1");
  EXPECT_EQ(site.QueueLength(), 0);

  auto home = site.CentralDb();
  testsite::ExpectSampleSiteCopied(local, *inst);
  EXPECT_EQ(Dump(*home, "Select locName, zip From Installations Where id = 1"),
            (Rows{{V::Text("Chez 'Nous'"), V::Text("")}}));
  EXPECT_EQ(Dump(*home,
                 "Select emailId, resId, email, iPhoneDeviceId From Emails "
                 "Where instId = 1 Order By resId"),
            (Rows{{V::Integer(1), V::Integer(1), V::Text("neill@example.com"), V::Text("")}}));
  // Only the package still waiting when it was added asks for an alert.
  EXPECT_EQ(Dump(*home, "Select instId, resId, alertType From ClientQueue Order By id"),
            (Rows{{V::Integer(1), V::Integer(4), V::Text("Package")},
                  {V::Integer(1), V::Integer(1), V::Text("Package")}}));
  // PhotoR clears the temp photo name too; a site without a photo keeps Null.
  EXPECT_EQ(Dump(*inst, "Select photo, tmpPhoto From Names Where id = 1"), (Rows{{V(), V()}}));
  EXPECT_EQ(site.sent, (std::vector<std::string>{"UDPH", "UDLG", "SDWE 1§15", "SDWC 1§5", "UDAP"}));
}

TEST(QueuedChange, ClearDemoEmptiesTheInstallationButKeepsLookupTables) {
  QueueSite site;
  EXPECT_EQ(site.Work("ClearDemo"), ChangeResult::Uploaded);
  auto home = site.CentralDb();
  auto inst = site.CentralDb(kInstallation);
  auto count = [&](const char* table) {
    return Dump(*inst, std::string("Select Count(*) From ") + table).at(0).at(0).AsInteger();
  };
  EXPECT_EQ(Dump(*home, "Select locName From Installations Where id = 1"), (Rows{{V::Text("")}}));
  EXPECT_EQ(Dump(*home, "Select Count(*) From Emails Where instId = 1"), (Rows{{V::Integer(0)}}));
  for (const char* t : {"Names", "TenantAccess", "Packages", "Notification", "NotificationF",
                        "Entries", "Logs", "AdditionalPhotos"})
    EXPECT_EQ(count(t), 0) << t;
  EXPECT_EQ(count("Packages_Types"), 2);
  EXPECT_EQ(count("Packages_Settings"), 1);
}

TEST(QueuedChange, GoneRowsAndUnknownKindsWriteNothingAndLeaveTheQueue) {
  QueueSite site;
  auto inst = site.CentralDb(kInstallation);
  const Rows before = Dump(*inst, "Select * From Names Order By id");
  const int statements = site.centralStatements();
  for (const char* kind : {"NamesU", "NamesA", "PhotoA", "namesu", "Bogus", ""})
    EXPECT_EQ(site.Work(kind, 99, 0), ChangeResult::Uploaded) << kind;
  for (const char* kind : {"PackagesA", "PackagesU", "Logs", "AdditionalPhotosL"})
    EXPECT_EQ(site.Work(kind, 0, 99), ChangeResult::Uploaded) << kind;
  // Additional photos without data are not copied.
  EXPECT_EQ(site.Work("AdditionalPhotos", 0, 2), ChangeResult::Uploaded);
  site.local().Execute("Delete From Settings");
  EXPECT_EQ(site.Work("Settings"), ChangeResult::Uploaded);

  EXPECT_EQ(site.centralStatements(), statements);
  EXPECT_EQ(Dump(*inst, "Select * From Names Order By id"), before);
  EXPECT_TRUE(site.sent.empty());
  EXPECT_TRUE(site.logged.empty());
  EXPECT_EQ(site.QueueLength(), 0);
  // The kinds that match nothing are recorded as dropped.
  const std::string failed = site.FailedChangesText();
  EXPECT_NE(failed.find("\tnamesu\t99\t0\t0\tunknown change kind\n"), std::string::npos) << failed;
  EXPECT_NE(failed.find("\tBogus\t99\t0\t0\t"), std::string::npos) << failed;
  EXPECT_EQ(failed.find("NamesU"), std::string::npos) << failed;
}

TEST(QueuedChange, AFailedChangeIsLoggedDroppedAndRecorded) {
  QueueSite site;
  site.local().Execute("Update Names Set lastName = Null Where id = 1");
  EXPECT_EQ(site.Work("NamesU", 1), ChangeResult::Failed);
  EXPECT_EQ(site.Work("NamesA", 1), ChangeResult::Failed);
  // A non-numeric installation id fails before any statement.
  const int statements = site.centralStatements();
  EXPECT_EQ(site.Work("ClearDemo", 0, 0, "1 Or 1=1"), ChangeResult::Failed);
  EXPECT_EQ(site.centralStatements(), statements);
  // A photo the central side cannot store.
  site.CentralDb(kInstallation)->Execute("Drop Table AdditionalPhotos");
  site.CentralDb(kInstallation)
      ->Execute("Create Table AdditionalPhotos (id int, label nvarchar(100), resId int)");
  EXPECT_EQ(site.Work("AdditionalPhotos", 0, 1), ChangeResult::Failed);

  ASSERT_EQ(site.logged.size(), 4u);
  for (const auto& l : site.logged) EXPECT_EQ(l.message, "TransferResDataToCX()");
  EXPECT_EQ(site.logged[0].number, kErrInvalidUseOfNull);
  EXPECT_EQ(site.logged[2].number, kErrNotANumber);
  EXPECT_EQ(site.QueueLength(), 0);
  EXPECT_FALSE(site.Central().IsOpen());

  const std::string failed = site.FailedChangesText();
  EXPECT_EQ(std::count(failed.begin(), failed.end(), '\n'), 4) << failed;
  for (const char* line : {"\t1\tNamesU\t1\t0\t94\t", "\t2\tNamesA\t1\t0\t94\t",
                           "\tClearDemo\t0\t0\t13\t", "\tAdditionalPhotos\t0\t1\t"})
    EXPECT_NE(failed.find(line), std::string::npos) << line << failed;

  // A failure that cannot be recorded (here the file's name is taken by a
  // folder) keeps its change queued; once it can, it is recorded and removed.
  const auto file = FailedChangesPath(site.appFolder());
  std::filesystem::rename(file, file.string() + ".old");
  std::filesystem::create_directory(file);
  site.logged.clear();
  EXPECT_EQ(site.Work("NamesU", 1), ChangeResult::Deferred);
  EXPECT_EQ(site.QueueLength(), 1);
  ASSERT_EQ(site.logged.size(), 1u);
  EXPECT_NE(site.logged[0].detail.find("FailedChanges.txt cannot be written"), std::string::npos);
  std::filesystem::remove(file);
  const auto id = static_cast<std::int32_t>(GetTopID(site.local(), "UpdateQueue"));
  EXPECT_EQ(TransferResDataToCX(site, {id, "NamesU", 1, 0}), ChangeResult::Failed);
  EXPECT_EQ(site.QueueLength(), 0);
  EXPECT_NE(site.FailedChangesText().find("\tNamesU\t1\t0\t94\t"), std::string::npos);
}

TEST(QueuedChange, APassingFaultKeepsTheChangeQueuedAndTheDrainStopsThereLoggingItOnce) {
  QueueSite site;
  const std::string names = "Select lastName From Names Where id = 1";

  // The central instance goes away in the middle of the change, then the
  // local one: each time the row stays, whole, and nothing is recorded.
  site.local().Execute("Update Names Set lastName = N'Fault' Where id = 1");
  site.TakeCentralOfflineAtStatement(site.centralStatements() + 1);
  EXPECT_EQ(site.Work("NamesU", 1), ChangeResult::Deferred);
  site.SetCentralOnline(true);
  site.TakeCentralOfflineAtStatement(0);
  site.SetLocalOnline(false);
  EXPECT_EQ(TransferResDataToCX(site, {1, "NamesU", 1, 0}), ChangeResult::Deferred);
  site.SetLocalOnline(true);
  ASSERT_EQ(site.logged.size(), 2u);
  for (const auto& l : site.logged) EXPECT_EQ(l.number, 10054) << l.detail;
  EXPECT_EQ(site.QueueLength(), 1);
  EXPECT_EQ(site.FailedChangesText(), "");

  // The drain: the first row goes, the fault stops the drain at the second
  // and keeps the third behind it; the outage is logged once however many
  // ticks it lasts; back online, the rest goes in order.
  asio::io_context io;
  auto drain = std::make_shared<UpdateQueueDrain>(io, site);
  site.logged.clear();
  site.local().Execute(
      "Update Names Set lastName = N'Second' Where id = 2;"
      "Insert Into UpdateQueue (tableName, resId, recordId) Values (N'NamesU', 2, 0);"
      "Insert Into UpdateQueue (tableName, resId, recordId) Values (N'NamesU', 1, 0);");
  site.TakeCentralOfflineAtStatement(site.centralStatements() + 2);  // the second row's update
  for (int tick = 0; tick < 3; ++tick) {
    drain->Tick();
    io.restart();
    io.run();
  }
  EXPECT_EQ(site.QueueLength(), 2);
  EXPECT_EQ(site.logged.size(), 1u) << site.Log();
  site.SetCentralOnline(true);
  site.TakeCentralOfflineAtStatement(0);
  EXPECT_EQ(Dump(*site.CentralDb(kInstallation), names), (Rows{{V::Text("Fault")}}));
  drain->Tick();
  io.restart();
  io.run();
  EXPECT_EQ(site.QueueLength(), 0);
  EXPECT_EQ(Dump(*site.CentralDb(kInstallation), "Select lastName From Names Where id = 2"),
            (Rows{{V::Text("Second")}}));
  EXPECT_EQ(site.FailedChangesText(), "");
}

TEST(UpdateQueueDrain, ALinkLostMidDrainLetsThePassFinishAStopEndsItBetweenTwoRows) {
  QueueSite site;
  asio::io_context io;
  auto drain = std::make_shared<UpdateQueueDrain>(io, site);
  // Residents 1, 2 and 4 (3 is staff, never uploaded).
  const auto queueThree = [&](const std::string& name) {
    for (int r : {1, 2, 4}) {
      site.local().Execute("Update Names Set lastName = N'" + name +
                           "' Where id = " + std::to_string(r) +
                           "; Insert Into UpdateQueue (tableName, resId, recordId) Values "
                           "(N'NamesU', " +
                           std::to_string(r) + ", 0)");
    }
  };
  const auto centralNames = [&] {
    return Dump(*site.CentralDb(kInstallation),
                "Select lastName From Names Where id In (1, 2, 4) Order By id");
  };

  // No drain starts while the link is down.
  queueThree("Link");
  site.queueActive = false;
  drain->Tick();
  io.run();
  EXPECT_EQ(site.QueueLength(), 3);
  // The link drops after the first row: the drain still works the other two.
  site.queueActive = true;
  drain->Tick();
  io.restart();
  ASSERT_EQ(io.run_one(), 1u);
  EXPECT_EQ(site.QueueLength(), 2);
  site.queueActive = false;
  io.run();
  EXPECT_EQ(site.QueueLength(), 0);
  EXPECT_EQ(centralNames(), (Rows{{V::Text("Link")}, {V::Text("Link")}, {V::Text("Link")}}));
  EXPECT_FALSE(drain->draining());

  // A stop request during the first row ends the drain before the second.
  site.queueActive = true;
  queueThree("Stop");
  site.stopAfterStatements = site.centralStatements() + 1;
  drain->Tick();
  io.restart();
  io.run();
  EXPECT_EQ(site.QueueLength(), 2);
  EXPECT_EQ(centralNames(), (Rows{{V::Text("Stop")}, {V::Text("Link")}, {V::Text("Link")}}));
  EXPECT_FALSE(drain->draining());
  EXPECT_EQ(site.FailedChangesText(), "");
}

TEST(QueuedChange, ADeliveryRepeatedAfterAStopOrAPassingPhotoFaultCompletesItsEffect) {
  QueueSite site;
  // An earlier delivery wrote the rows, then the service stopped before the
  // photos went and before the queue rows were removed.
  auto inst = site.CentralDb(kInstallation);
  inst->Execute(
      "Update Logs Set photo = Null, photo2 = Null Where id = 1;"
      "Update AdditionalPhotos Set photo = Null Where id = 1;");
  EXPECT_EQ(site.Work("Logs", 0, 1), ChangeResult::Uploaded);
  // The central side goes away at the photo's store: the change stays queued.
  site.TakeCentralOfflineAtStatement(site.centralStatements() + 2);
  EXPECT_EQ(site.Work("AdditionalPhotos", 0, 1), ChangeResult::Deferred);
  site.SetCentralOnline(true);
  site.TakeCentralOfflineAtStatement(0);
  const QueuedChange change{static_cast<std::int32_t>(GetTopID(site.local(), "UpdateQueue")),
                            "AdditionalPhotos", 0, 1};
#ifndef _WIN32  // no room on the disk for the temp photo file: passing as well
  const auto temp = site.appFolder() / "photos" / "temp_00001.jpg";
  std::filesystem::remove(temp);
  std::filesystem::create_symlink("/dev/full", temp);
  EXPECT_EQ(TransferResDataToCX(site, change), ChangeResult::Deferred);
  std::filesystem::remove(temp);
#endif
  EXPECT_EQ(site.QueueLength(), 1);
  EXPECT_EQ(TransferResDataToCX(site, change), ChangeResult::Uploaded) << site.Log();
  EXPECT_EQ(site.Work("PackagesA", 0, 1), ChangeResult::Uploaded);
  EXPECT_EQ(site.FailedChangesText(), "");
  EXPECT_EQ(Dump(*inst, "Select photo, photo2 From Logs Where id = 1"),
            (Rows{{V::Binary(testsite::kLogPhoto), V::Binary(testsite::kLogPhoto2)}}));
  EXPECT_EQ(Dump(*inst, "Select photo From AdditionalPhotos Where id = 1"),
            (Rows{{V::Binary(testsite::kAdditionalPhoto)}}));
  for (const char* table : {"Logs", "AdditionalPhotos", "Packages"}) {
    EXPECT_EQ(Dump(*inst, std::string("Select Count(*) From ") + table + " Where id = 1"),
              (Rows{{V::Integer(1)}}))
        << table;
  }
}

TEST(QueueRows, RemoveQueueCXLogsAFailureAndKeepsTheCentralRow) {
  UploadSite site;
  site.CentralDb()->Execute(
      "Insert Into UpdateQueue (instId, recordId, tableName, itemId) Values (1, 1, N'Names', 0)");
  ASSERT_TRUE(site.OpenCentral());
  EXPECT_FALSE(RemoveQueueCX(
      *site.Central().get(), "NoSuchDatabase", 1,
      [&](const std::string& m, long n, const std::string& d) { site.WriteLog(m, n, d); }));
  ASSERT_EQ(site.logged.size(), 1u);
  EXPECT_EQ(site.logged[0].message, "RemoveQueueCX()");
  site.Central().CloseCentralConnection();
  EXPECT_EQ(Dump(*site.CentralDb(), "Select Count(*) From UpdateQueue"), (Rows{{V::Integer(1)}}));
}

// What the service keeps in its application folder over time: daily logs past
// logKeepDays go, once a day; FailedChanges.txt is never removed but moves
// aside at its size limit.
TEST(OldFiles, DailyLogsPastTheirDaysGoFailedChangesRotates) {
  namespace fs = std::filesystem;
  testing::TempDir dir;
  const auto day = [](int month, int mday) {
    std::tm tm{};
    tm.tm_year = 126, tm.tm_mon = month - 1, tm.tm_mday = mday, tm.tm_hour = 10, tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
  };
  for (const char* name :
       {"Log 120126.txt", "Log 110626.txt", "Log 090826.txt", "Log 123125.txt", "Log 139926.txt",
        "Log.txt", "FailedChanges.txt", "FailedChanges.1.txt", "notes.txt"}) {
    testing::WriteFile(dir / name, "x\n");
  }
  auto now = day(12, 6);
  common::DailyLog log(dir.path(), [&] { return now; });
  log.WriteLog("kept: no days set");
  EXPECT_TRUE(fs::exists(dir / "Log 090826.txt"));
  log.SetKeepDays(30);
  log.WriteLog("Remote Started");
  for (const char* name : {"Log 120626.txt", "Log 120126.txt", "Log 110626.txt", "Log 139926.txt",
                           "Log.txt", "FailedChanges.txt", "FailedChanges.1.txt", "notes.txt"}) {
    EXPECT_TRUE(fs::exists(dir / name)) << name;
  }
  EXPECT_FALSE(fs::exists(dir / "Log 090826.txt"));
  EXPECT_FALSE(fs::exists(dir / "Log 123125.txt"));
  testing::WriteFile(dir / "Log 010126.txt", "x\n");
  log.WriteLog("same day: no second sweep");
  EXPECT_TRUE(fs::exists(dir / "Log 010126.txt"));
  now = day(12, 7);
  log.WriteLog("next day");
  EXPECT_FALSE(fs::exists(dir / "Log 010126.txt"));
  EXPECT_FALSE(fs::exists(dir / "Log 110626.txt"));  // 31 days old now
  EXPECT_TRUE(fs::exists(dir / "Log 120126.txt"));

  const auto file = FailedChangesPath(dir.path());
  fs::remove(file);
  const auto older = fs::path(dir.path()) / kFailedChangesOlderFile;
  auto append = [&](const char* queueId) {
    return AppendFailedChange(file, FailedChange{queueId, "NamesU", "1", "0", 94, "Null"}, 60);
  };
  ASSERT_TRUE(append("1"));
  ASSERT_TRUE(append("2"));  // under 60 bytes before this one
  ASSERT_TRUE(append("3"));  // the file reached 60: it moves aside first
  const std::string first = testing::ReadFile(older);
  EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 2) << first;
  EXPECT_NE(testing::ReadFile(file).find("\t3\tNamesU"), std::string::npos);
  ASSERT_TRUE(append("4"));
  ASSERT_TRUE(append("5"));  // a second rotation replaces the older file
  EXPECT_NE(testing::ReadFile(older).find("\t4\tNamesU"), std::string::npos);
  EXPECT_EQ(testing::ReadFile(older).find("\t1\tNamesU"), std::string::npos);
  EXPECT_NE(testing::ReadFile(file).find("\t5\tNamesU"), std::string::npos);
}

}  // namespace
}  // namespace pv::sync
