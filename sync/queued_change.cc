#include "sync/queued_change.h"

#include <exception>
#include <memory>
#include <string_view>

#include "common/text.h"
#include "db/connections/installation.h"
#include "db/error.h"
#include "photos/image_transfer.h"
#include "photos/photo_files.h"
#include "sync/central_job.h"
#include "sync/failed_changes.h"
#include "sync/queue_rows.h"
#include "sync/value_forms.h"

namespace pv::sync {

namespace {

constexpr char kRoutine[] = "TransferResDataToCX()";
// Violation of a primary key or unique constraint.
constexpr long kErrDuplicateKey = 2627;

const char kNamesColumns[] =
    "lastName, firstName, suite, company, "
    "button1Type, button2Type, button3Type, "
    "phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, phone3, button3Loc, "
    "button3Comm, "
    "hide, hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr, dmCode";

class Change {
 public:
  Change(const CentralJob& job, const QueuedChange& change, std::int64_t installationId,
         std::string number, std::optional<bool>* mailRoom)
      : host_(job.host()),
        local_(job.Local()),
        central_(job.Central()),
        c_(change),
        instId_(std::to_string(installationId)),
        number_(std::move(number)),
        R_(std::to_string(change.resId)),
        K_(std::to_string(change.recordId)),
        mailRoomCache_(mailRoom) {}

  void Run() {
    if (mailRoomCache_ != nullptr && mailRoomCache_->has_value()) {
      mailRoom_ = **mailRoomCache_;
    } else {
      mailRoom_ = HasMailRoom(local_);
      if (mailRoomCache_ != nullptr) *mailRoomCache_ = mailRoom_;
    }
    const std::string& kind = c_.tableName;
    if (kind == "NamesU") return NamesU();
    if (kind == "NamesA") return NamesA();
    if (kind == "NamesR") return NamesR();
    if (kind == "Notification" || kind == "NotificationF") return Notification(kind);
    if (kind == "TenantAccess") return TenantAccess();
    if (kind == "PhotoA") return PhotoA();
    if (kind == "PhotoR") return PhotoR();
    if (kind == "Settings") return Settings();
    if (kind == "Entries") return Entries();
    if (kind == "Packages_Settings") return PackagesSettings();
    if (kind == "Packages_Types") return PackagesTypes();
    if (kind == "Emails") return Emails();
    if (kind == "PackagesA") return PackagesA();
    if (kind == "PackagesU") return PackagesU();
    if (kind == "PackagesR") return Installation("Delete From Packages Where id = " + K_ + ";");
    if (kind == "Logs") return Logs();
    if (kind == "AdditionalPhotos") return AdditionalPhotos();
    if (kind == "AdditionalPhotosR")
      return Installation("Delete From AdditionalPhotos Where id = " + K_ + ";");
    if (kind == "AdditionalPhotosL") return AdditionalPhotosL();
    if (kind == "Welcome")
      return Send("SDWE " + host_.InstallationId() + std::string(common::kFieldSeparator) + R_);
    if (kind == "WelcomeC")
      return Send("SDWC " + host_.InstallationId() + std::string(common::kFieldSeparator) + R_);
    if (kind == "ClearDemo") return ClearDemo();
    unknown_ = true;
  }

  bool unknown() const { return unknown_; }

 private:
  void UseHome() { central_.SetCurrentDatabase(host_.HomeDatabase()); }
  void UseInstallation() {
    central_.SetCurrentDatabase(db::InstallationDatabaseName(host_.InstallationId()));
  }
  // Inserts the change's own row (its id is the local row's). A duplicate key
  // means an earlier delivery of this change already wrote it (the service
  // stopped before the queue row was removed): the row is there, and the
  // change goes on with its next steps (photos, notices).
  void InsertOwnRow(const std::string& sql) {
    try {
      central_.Execute(sql);
    } catch (const db::DbError& e) {
      if (e.number() != kErrDuplicateKey) throw;
    }
  }
  void Installation(const std::string& sql) {
    UseInstallation();
    central_.Execute(sql);
  }
  void Send(const std::string& message) { host_.SendToCentral(message); }

  std::string NamesQuery(const char* first) const {
    return std::string("Select ") + first + kNamesColumns + (mailRoom_ ? ", mailRoomID" : "") +
           " From Names Where id = " + R_;
  }
  std::string MailRoomValue(const db::Rowset& q) const {
    return mailRoom_ ? NullableNumber(q.Get("mailRoomID"), "Names.mailRoomID") : "Null";
  }

  void NamesU() {
    UseInstallation();
    auto q = local_.Query(NamesQuery(""));
    if (!q->Next()) return;
    auto quoted = [&](const char* col) { return Quoted(q->Get(col), std::string("Names.") + col); };
    central_.Execute(
        "Update Names Set lastName = " + quoted("lastName") +
        ", firstName = " + quoted("firstName") + ", suite = " + quoted("suite") +
        ", company = " + quoted("company") + ", button1Type = " + RawQuoted(q->Get("button1Type")) +
        ", button2Type = " + RawQuoted(q->Get("button2Type")) +
        ", button3Type = " + RawQuoted(q->Get("button3Type")) + ", phone1 = " + quoted("phone1") +
        ", button1Loc = " + quoted("button1Loc") + ", button1Comm = " + quoted("button1Comm") +
        ", phone2 = " + quoted("phone2") + ", button2Loc = " + quoted("button2Loc") +
        ", button2Comm = " + quoted("button2Comm") + ", phone3 = " + quoted("phone3") +
        ", button3Loc = " + quoted("button3Loc") + ", button3Comm = " + quoted("button3Comm") +
        ", hide = " + RawQuoted(q->Get("hide")) + ", hideBut1 = " + RawQuoted(q->Get("hideBut1")) +
        ", hideBut2 = " + RawQuoted(q->Get("hideBut2")) + ", hideBut3 = " +
        RawQuoted(q->Get("hideBut3")) + ", notes1 = " + NullableQuoted(q->Get("notes1")) +
        ", notes2 = " + NullableQuoted(q->Get("notes2")) + ", photoDescr = " +
        NullableQuoted(q->Get("photoDescr")) + ", dmCode = " + DefaultQuoted(q->Get("dmCode")) +
        ", mailRoomID = " + MailRoomValue(*q) + " Where id = " + R_ + ";");
  }

  void NamesA() {
    UseInstallation();
    auto q = local_.Query(NamesQuery("resType, "));
    if (!q->Next()) return;
    auto quoted = [&](const char* col) { return Quoted(q->Get(col), std::string("Names.") + col); };
    InsertOwnRow(
        "Insert Into Names (id, resType, lastName, firstName, suite, company, "
        "button1Type, button2Type, button3Type, "
        "phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, phone3, button3Loc, "
        "button3Comm, "
        "hide, hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr, mailRoomID, dmCode) "
        "Values (" +
        R_ + ", " + RawQuoted(q->Get("resType")) + ", " + quoted("lastName") + ", " +
        quoted("firstName") + ", " + quoted("suite") + ", " + quoted("company") + ", " +
        RawQuoted(q->Get("button1Type")) + ", " + RawQuoted(q->Get("button2Type")) + ", " +
        RawQuoted(q->Get("button3Type")) + ", " + quoted("phone1") + ", " + quoted("button1Loc") +
        ", " + quoted("button1Comm") + ", " + quoted("phone2") + ", " + quoted("button2Loc") +
        ", " + quoted("button2Comm") + ", " + quoted("phone3") + ", " + quoted("button3Loc") +
        ", " + quoted("button3Comm") + ", " + RawQuoted(q->Get("hide")) + ", " +
        RawQuoted(q->Get("hideBut1")) + ", " + RawQuoted(q->Get("hideBut2")) + ", " +
        RawQuoted(q->Get("hideBut3")) + ", " + NullableQuoted(q->Get("notes1")) + ", " +
        NullableQuoted(q->Get("notes2")) + ", " + NullableQuoted(q->Get("photoDescr")) + ", " +
        MailRoomValue(*q) + ", " + DefaultQuoted(q->Get("dmCode")) + ");");
  }

  void NamesR() {
    UseHome();
    central_.Execute("Delete From Emails Where instId = " + instId_ + " And resId = " + R_ + ";");
    Installation("Delete From Names Where id = " + R_ + ";" +
                 "Delete From TenantAccess Where resId = " + R_ + ";" +
                 "Delete From Packages Where nameId = " + R_ + ";" +
                 "Delete From Notification Where resId = " + R_ + ";" +
                 "Delete From NotificationF Where resId = " + R_ + ";" +
                 "Delete From AdditionalPhotos Where resId = " + R_ + ";");
  }

  void Notification(const std::string& table) {
    Installation("Delete From " + table + " Where resId = " + R_ + ";");
    auto q =
        local_.Query("Select email From " + table + " Where resId = " + R_ + " Order By id Asc");
    while (q->Next()) {
      central_.Execute("Insert Into " + table + " (resId, email) Values (" + R_ + ", " +
                       Quoted(q->Get("email"), table + ".email") + ");");
    }
  }

  void TenantAccess() {
    Installation("Delete From TenantAccess Where resId = " + R_ + ";");
    auto q = local_.Query("Select * From TenantAccess Where resId = " + R_);
    static constexpr const char* kRaw[] = {
        "codeDates",     "codeDays",    "codeTimes", "codeStartDate", "codeEndDate",
        "codeStartTime", "codeEndTime", "codeMon",   "codeTue",       "codeWed",
        "codeThr",       "codeFri",     "codeSat",   "codeSun"};
    while (q->Next()) {
      std::string sql =
          "Insert Into TenantAccess (resId, code, descr, "
          "codeDates, codeDays, codeTimes, "
          "codeStartDate, codeEndDate, codeStartTime, codeEndTime, "
          "codeMon, codeTue, codeWed, codeThr, codeFri, codeSat, codeSun, "
          "numericalCode, accessType0, accessType1, accessType2, accessType3, accessType4, "
          "accessType5) Values (" +
          R_ + ", " + RawQuoted(q->Get("code")) + ", " +
          Quoted(q->Get("descr"), "TenantAccess.descr");
      for (const char* col : kRaw) sql += ", " + RawQuoted(q->Get(col));
      sql += ", " + DefaultQuoted(q->Get("numericalCode"));
      for (int i = 0; i <= 5; ++i) {
        const std::string col = "accessType" + std::to_string(i);
        sql += ", " + DefaultQuoted(q->Get(col.c_str()), "False");
      }
      central_.Execute(sql + " );");
    }
  }

  // Passes one photo of the local row through its temp file into the
  // central row with the same id, streamed both ways. True when a photo was
  // stored. A failure (file not written, store refused, connection lost)
  // fails the change: kept when it is passing, recorded otherwise.
  bool StorePhoto(std::int64_t id, const char* column, const char* table, std::string_view suffix) {
    return photos::TransferPhoto(local_, id, central_, id, table, column, Temp(suffix));
  }
  std::filesystem::path Temp(std::string_view suffix) const {
    return photos::TempPhotoPath(host_.AppFolder(), number_, suffix);
  }

  void PhotoA() {
    UseInstallation();
    auto q = local_.Query("Select photoDescr From Names Where id = " + R_);
    if (!q->Next()) return;
    const std::string descr = DefaultQuoted(q->Get("photoDescr"));
    q.reset();
    if (StorePhoto(c_.resId, "photo", "Names", photos::kPhotoSuffix)) Send("UDPH");
    central_.Execute("Update Names Set photoDescr = " + descr + " Where id = " + R_ + ";");
  }

  void PhotoR() {
    Installation(
        "Update Names Set photo = Null, tmpPhoto = Null, photoDescr = '' Where id = " + R_ + ";");
  }

  void Settings() {
    auto q = local_.Query("Select name, zip From Settings");
    if (!q->Next()) return;
    UseHome();
    central_.Execute("Update Installations Set locName = " + DefaultQuoted(q->Get("name")) +
                     ", zip = " + DefaultQuoted(q->Get("zip")) + " Where id = " + instId_ + ";");
  }

  void Entries() {
    Installation("Delete From Entries;");
    auto q = local_.Query(
        "Select entryId, entryName, mesLine1, mesLine2, mesLine3, version From Entries");
    while (q->Next()) {
      central_.Execute(
          "Insert Into Entries (entryId, entryName, mesLine1, mesLine2, mesLine3, version) "
          "Values (" +
          Number(q->Get("entryId"), "Entries.entryId") + ", " +
          Quoted(q->Get("entryName"), "Entries.entryName") + ", " +
          DefaultQuoted(q->Get("mesLine1")) + ", " + DefaultQuoted(q->Get("mesLine2")) + ", " +
          DefaultQuoted(q->Get("mesLine3")) + ", " + DefaultQuoted(q->Get("version")) + " );");
    }
  }

  void PackagesSettings() {
    Installation("Delete From Packages_Settings;");
    auto q = local_.Query("Select id, mailRoomName From Packages_Settings");
    while (q->Next()) {
      central_.Execute("Insert Into Packages_Settings (id, mailRoomName) Values (" +
                       Number(q->Get("id"), "Packages_Settings.id") + ", " +
                       NullableQuoted(q->Get("mailRoomName")) + " );");
    }
  }

  void PackagesTypes() {
    Installation("Delete From Packages_Types;");
    auto q = local_.Query("Select * From Packages_Types");
    while (q->Next()) {
      central_.Execute(
          "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values (" +
          Number(q->Get("id"), "Packages_Types.id") + ", " +
          NullableQuoted(q->Get("packageTypeLongName")) + ", " +
          NullableQuoted(q->Get("packageTypeImage")) + " );");
    }
  }

  void Emails() {
    UseHome();
    central_.Execute("Delete From Emails Where instId = " + instId_ + " And resId = " + R_ + ";");
    auto q = local_.Query("Select * From Emails Where resId = " + R_);
    if (!q->Next()) return;
    central_.Execute("Insert Into Emails (instId, emailId, resId, email, iPhoneDeviceId) Values (" +
                     instId_ + ", " + Number(q->Get("id"), "Emails.id") + ", " +
                     Number(q->Get("resId"), "Emails.resId") + ", " +
                     Quoted(q->Get("email"), "Emails.email") + ", " +
                     DefaultQuoted(q->Get("iPhoneDeviceId")) + ");");
  }

  void PackagesA() {
    UseInstallation();
    auto q = local_.Query("Select * From Packages Where id = " + K_);
    if (!q->Next()) return;
    const std::string nameId = Number(q->Get("nameId"), "Packages.nameId");
    InsertOwnRow(
        "Insert Into Packages (id, nameId, packageType, packageDate, pickupDate) "
        "Values (" +
        Number(q->Get("id"), "Packages.id") + ", " + nameId + ", " +
        Number(q->Get("packageType"), "Packages.packageType") + ", " +
        NullableDate(q->Get("packageDate")) + ", " + NullableDate(q->Get("pickupDate")) + " );");
    if (q->Get("pickupDate").IsNull()) {
      // A package waiting to be picked up: the central side alerts the resident.
      UseHome();
      central_.Execute("Insert Into ClientQueue (instId, resId, alertType) Values (" + instId_ +
                       ", " + nameId + ", " + TextLiteral("Package") + ");");
    }
  }

  void PackagesU() {
    UseInstallation();
    auto q = local_.Query("Select pickupDate From Packages Where id = " + K_);
    if (!q->Next()) return;
    central_.Execute("Update Packages Set pickupDate = " + NullableDate(q->Get("pickupDate")) +
                     " Where id = " + K_ + ";");
  }

  void Logs() {
    UseInstallation();
    auto q = local_.Query(
        "Select id, entryId, residentId, aDateTime, action, data, computerName From Logs "
        "Where id = " +
        K_);
    if (!q->Next()) return;
    const std::int64_t id = IntegerOf(q->Get("id"), "Logs.id");
    const std::string insert =
        "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) "
        "Values (" +
        std::to_string(id) + ", " + Number(q->Get("entryId"), "Logs.entryId") + ", " +
        Number(q->Get("residentId"), "Logs.residentId") + ", " + NullableDate(q->Get("aDateTime")) +
        ", " + NullableQuoted(q->Get("action")) + ", " + NullableQuoted(q->Get("data")) + ", " +
        NullableQuoted(q->Get("computerName")) + " );";
    q.reset();
    InsertOwnRow(insert);
    const bool photo = StorePhoto(id, "photo", "Logs", photos::kPhotoSuffix);
    const bool photo2 = StorePhoto(id, "photo2", "Logs", photos::kSecondPhotoSuffix);
    if (photo || photo2) Send("UDLG");
  }

  void AdditionalPhotos() {
    UseInstallation();
    auto q = local_.Query("Select id, label, resId From AdditionalPhotos Where id = " + K_);
    if (!q->Next()) return;
    const std::int64_t id = IntegerOf(q->Get("id"), "AdditionalPhotos.id");
    const std::string insert = "Insert Into AdditionalPhotos (id, label, resId) Values (" +
                               std::to_string(id) + ", " + DefaultQuoted(q->Get("label")) + ", " +
                               Number(q->Get("resId"), "AdditionalPhotos.resId") + ");";
    q.reset();
    // Only a row with a photo is copied: the file first tells whether it has one.
    const std::filesystem::path path = Temp(photos::kPhotoSuffix);
    if (!photos::SaveImageToFile(local_, "AdditionalPhotos", "photo", id, path)) return;
    InsertOwnRow(insert);
    photos::UpdateImageInDB(id, "photo", "AdditionalPhotos", path, central_);
    Send("UDAP");
  }

  void AdditionalPhotosL() {
    UseInstallation();
    auto q = local_.Query("Select label From AdditionalPhotos Where id = " + K_);
    if (!q->Next()) return;
    central_.Execute("Update AdditionalPhotos Set label = " + DefaultQuoted(q->Get("label")) +
                     " Where id = " + K_ + ";");
  }

  void ClearDemo() {
    UseHome();
    central_.Execute("Update Installations Set locName = '' Where id = " + instId_ + ";");
    central_.Execute("Delete From Emails Where instId = " + instId_ + ";");
    Installation(
        "Delete From Names;Delete From TenantAccess;Delete From Packages;"
        "Delete From Notification;Delete From NotificationF;Delete From Entries;"
        "Delete From Logs;Delete From AdditionalPhotos;");
  }

  JobHost& host_;
  db::Connection& local_;
  db::Connection& central_;
  const QueuedChange& c_;
  const std::string instId_;
  const std::string number_;
  const std::string R_;
  const std::string K_;
  bool mailRoom_ = false;
  std::optional<bool>* mailRoomCache_ = nullptr;
  bool unknown_ = false;
};

}  // namespace

ChangeResult TransferResDataToCX(JobHost& host, const QueuedChange& change, bool reuseCentral,
                                 JobFailure* deferred, std::optional<bool>* mailRoom) {
  CentralJob job(host, kRoutine);
  if (!job.Open(reuseCentral)) return ChangeResult::NotConnected;

  auto remove = [&] {
    db::Connection* local = host.LocalConnection();
    return local != nullptr && RemoveQueue(*local, change.id, job.LogFn());
  };
  auto record = [&](const JobFailure& failure) {
    return AppendFailedChange(
        FailedChangesPath(host.AppFolder()),
        {std::to_string(change.id), change.tableName, std::to_string(change.resId),
         std::to_string(change.recordId), failure.number, failure.description});
  };
  // The change stays queued, whole, for a later try: the server, the
  // connection or its storage is away, or its failure could not be recorded.
  auto keep = [&](const JobFailure& failure) {
    job.Close();
    if (deferred != nullptr) {
      *deferred = failure;
    } else {
      job.Log(failure);
    }
    return ChangeResult::Deferred;
  };
  // A change is removed only once FailedChanges.txt holds its line: on a full
  // disk it waits in the queue rather than disappear without a trace.
  auto unrecorded = [&](const JobFailure& failure) {
    return JobFailure{kErrFailedChangesNotWritten,
                      std::string(kFailedChangesFile) + " cannot be written; the change stays " +
                          "queued (its failure: " + std::to_string(failure.number) + " " +
                          failure.description + ")"};
  };

  bool unknown = false;
  try {
    // The id stands bare in statements: it must be a whole number before the
    // first statement goes out.
    const std::string installationId = host.InstallationId();
    const std::int64_t id = db::CheckedInstallationId(installationId);
    Change work(job, change, id, db::InstallationNumber(installationId), mailRoom);
    work.Run();
    unknown = work.unknown();
  } catch (const std::exception& e) {
    const JobFailure failure = FailureOf(e);
    if (db::IsTransient(failure.number)) return keep(failure);
    if (!record(failure)) return keep(unrecorded(failure));
    job.Log(failure);
    job.Close();
    return remove() ? ChangeResult::Failed : ChangeResult::NotRemoved;
  }

  // Nothing was written for an unknown kind; the row goes, so it leaves a
  // trace first.
  const JobFailure unknownKind{0, "unknown change kind"};
  if (unknown && !record(unknownKind)) return keep(unrecorded(unknownKind));
  if (!reuseCentral) job.Close();
  if (!remove()) return ChangeResult::NotRemoved;
  return ChangeResult::Uploaded;
}

}  // namespace pv::sync
