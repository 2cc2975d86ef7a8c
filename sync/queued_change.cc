#include "sync/queued_change.h"

#include <exception>
#include <memory>
#include <string_view>

#include "db/error.h"
#include "photos/image_transfer.h"
#include "photos/photo_files.h"
#include "sync/failed_changes.h"
#include "sync/local_query.h"
#include "sync/queue_rows.h"
#include "sync/value_forms.h"

namespace pv::sync {

namespace {

constexpr char kRoutine[] = "TransferResDataToCX()";
// "§" (U+00A7) in UTF-8: the separator of a notice's fields.
constexpr char kSection[] = "\xC2\xA7";

const char kNamesColumns[] =
    "lastName, firstName, suite, company, "
    "button1Type, button2Type, button3Type, "
    "phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, phone3, button3Loc, "
    "button3Comm, "
    "hide, hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr, dmCode";

class Change {
 public:
  Change(const QueuedChangeContext& ctx, db::Connection& local, db::Connection& central,
         const QueuedChange& change, std::int64_t installationId, std::string number)
      : ctx_(ctx),
        local_(local),
        central_(central),
        c_(change),
        instId_(std::to_string(installationId)),
        number_(std::move(number)),
        R_(std::to_string(change.resId)),
        K_(std::to_string(change.recordId)) {}

  void Run() {
    mailRoom_ = HasMailRoom();
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
    if (kind == "Welcome") return Send("SDWE " + ctx_.installationId + kSection + R_);
    if (kind == "WelcomeC") return Send("SDWC " + ctx_.installationId + kSection + R_);
    if (kind == "ClearDemo") return ClearDemo();
    unknown_ = true;
  }

  bool unknown() const { return unknown_; }

 private:
  bool HasMailRoom() {
    LocalQuery q(local_,
                 "Select Count(*) From INFORMATION_SCHEMA.COLUMNS "
                 "Where COLUMN_NAME = 'mailRoomID' And TABLE_NAME = 'Names'");
    if (!q.Next() || q.ColumnCount() < 1) return false;
    const db::Value& v = q.At(0);
    if (v.type() == db::Value::Type::Integer) return v.AsInteger() == 1;
    if (v.type() == db::Value::Type::Text) return ParseInteger(v.AsTextRef()) == 1;
    return false;
  }

  void UseHome() { central_.SetCurrentDatabase(ctx_.homeDatabase); }
  void UseInstallation() { central_.SetCurrentDatabase("Installation" + number_); }
  void Installation(const std::string& sql) {
    UseInstallation();
    central_.Execute(sql);
  }
  void Send(const std::string& message) {
    if (ctx_.sendMessage) ctx_.sendMessage(message);
  }

  std::string NamesQuery(const char* first) const {
    return std::string("Select ") + first + kNamesColumns + (mailRoom_ ? ", mailRoomID" : "") +
           " From Names Where id = " + R_;
  }
  std::string MailRoomValue(const LocalQuery& q) const {
    return mailRoom_ ? NullableNumber(q["mailRoomID"], "Names.mailRoomID") : "Null";
  }

  void NamesU() {
    UseInstallation();
    LocalQuery q(local_, NamesQuery(""));
    if (!q.Next()) return;
    auto quoted = [&](const char* col) { return Quoted(q[col], std::string("Names.") + col); };
    central_.Execute(
        "Update Names Set lastName = " + quoted("lastName") +
        ", firstName = " + quoted("firstName") + ", suite = " + quoted("suite") +
        ", company = " + quoted("company") + ", button1Type = " + RawQuoted(q["button1Type"]) +
        ", button2Type = " + RawQuoted(q["button2Type"]) +
        ", button3Type = " + RawQuoted(q["button3Type"]) + ", phone1 = " + quoted("phone1") +
        ", button1Loc = " + quoted("button1Loc") + ", button1Comm = " + quoted("button1Comm") +
        ", phone2 = " + quoted("phone2") + ", button2Loc = " + quoted("button2Loc") +
        ", button2Comm = " + quoted("button2Comm") + ", phone3 = " + quoted("phone3") +
        ", button3Loc = " + quoted("button3Loc") + ", button3Comm = " + quoted("button3Comm") +
        ", hide = " + RawQuoted(q["hide"]) + ", hideBut1 = " + RawQuoted(q["hideBut1"]) +
        ", hideBut2 = " + RawQuoted(q["hideBut2"]) + ", hideBut3 = " + RawQuoted(q["hideBut3"]) +
        ", notes1 = " + NullableQuoted(q["notes1"]) + ", notes2 = " + NullableQuoted(q["notes2"]) +
        ", photoDescr = " + NullableQuoted(q["photoDescr"]) +
        ", dmCode = " + DefaultQuoted(q["dmCode"]) + ", mailRoomID = " + MailRoomValue(q) +
        " Where id = " + R_ + ";");
  }

  void NamesA() {
    UseInstallation();
    LocalQuery q(local_, NamesQuery("resType, "));
    if (!q.Next()) return;
    auto quoted = [&](const char* col) { return Quoted(q[col], std::string("Names.") + col); };
    central_.Execute(
        "Insert Into Names (id, resType, lastName, firstName, suite, company, "
        "button1Type, button2Type, button3Type, "
        "phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, phone3, button3Loc, "
        "button3Comm, "
        "hide, hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr, mailRoomID, dmCode) "
        "Values (" +
        R_ + ", " + RawQuoted(q["resType"]) + ", " + quoted("lastName") + ", " +
        quoted("firstName") + ", " + quoted("suite") + ", " + quoted("company") + ", " +
        RawQuoted(q["button1Type"]) + ", " + RawQuoted(q["button2Type"]) + ", " +
        RawQuoted(q["button3Type"]) + ", " + quoted("phone1") + ", " + quoted("button1Loc") + ", " +
        quoted("button1Comm") + ", " + quoted("phone2") + ", " + quoted("button2Loc") + ", " +
        quoted("button2Comm") + ", " + quoted("phone3") + ", " + quoted("button3Loc") + ", " +
        quoted("button3Comm") + ", " + RawQuoted(q["hide"]) + ", " + RawQuoted(q["hideBut1"]) +
        ", " + RawQuoted(q["hideBut2"]) + ", " + RawQuoted(q["hideBut3"]) + ", " +
        NullableQuoted(q["notes1"]) + ", " + NullableQuoted(q["notes2"]) + ", " +
        NullableQuoted(q["photoDescr"]) + ", " + MailRoomValue(q) + ", " +
        DefaultQuoted(q["dmCode"]) + ");");
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
    LocalQuery q(local_,
                 "Select email From " + table + " Where resId = " + R_ + " Order By id Asc");
    while (q.Next()) {
      central_.Execute("Insert Into " + table + " (resId, email) Values (" + R_ + ", " +
                       Quoted(q["email"], table + ".email") + ");");
    }
  }

  void TenantAccess() {
    Installation("Delete From TenantAccess Where resId = " + R_ + ";");
    LocalQuery q(local_, "Select * From TenantAccess Where resId = " + R_);
    static constexpr const char* kRaw[] = {
        "codeDates",     "codeDays",    "codeTimes", "codeStartDate", "codeEndDate",
        "codeStartTime", "codeEndTime", "codeMon",   "codeTue",       "codeWed",
        "codeThr",       "codeFri",     "codeSat",   "codeSun"};
    while (q.Next()) {
      std::string sql =
          "Insert Into TenantAccess (resId, code, descr, "
          "codeDates, codeDays, codeTimes, "
          "codeStartDate, codeEndDate, codeStartTime, codeEndTime, "
          "codeMon, codeTue, codeWed, codeThr, codeFri, codeSat, codeSun, "
          "numericalCode, accessType0, accessType1, accessType2, accessType3, accessType4, "
          "accessType5) Values (" +
          R_ + ", " + RawQuoted(q["code"]) + ", " + Quoted(q["descr"], "TenantAccess.descr");
      for (const char* col : kRaw) sql += ", " + RawQuoted(q[col]);
      sql += ", " + DefaultQuoted(q["numericalCode"]);
      for (int i = 0; i <= 5; ++i) {
        const std::string col = "accessType" + std::to_string(i);
        sql += ", " + DefaultQuoted(q[col.c_str()], "False");
      }
      central_.Execute(sql + " );");
    }
  }

  // Passes one photo through its temp file into the central row. A file that
  // cannot be written fails the change; the store step logs its own failure
  // and the change goes on.
  void StorePhoto(const db::Value& photo, std::int64_t id, const char* column, const char* table,
                  std::string_view suffix) {
    const std::filesystem::path path = photos::TempPhotoPath(ctx_.appFolder, number_, suffix);
    photos::RemoveFileQuietly(path);
    photos::WritePhotoFile(photos::PhotoBytes(photo), path);
    photos::UpdateImageInDB(id, column, table, path, central_,
                            ctx_.writeLog ? ctx_.writeLog : ChangeLogFn(NoLog));
  }
  static void NoLog(const std::string&, long, const std::string&) {}

  void PhotoA() {
    UseInstallation();
    LocalQuery q(local_, "Select photo, photoDescr From Names Where id = " + R_,
                 db::Cursor::Keyset);
    if (!q.Next()) return;
    if (q["photo"].HoldsData()) {
      StorePhoto(q["photo"], c_.resId, "photo", "Names", photos::kPhotoSuffix);
      Send("UDPH");
    }
    central_.Execute("Update Names Set photoDescr = " + DefaultQuoted(q["photoDescr"]) +
                     " Where id = " + R_ + ";");
  }

  void PhotoR() {
    Installation(
        "Update Names Set photo = Null, tmpPhoto = Null, photoDescr = '' Where id = " + R_ + ";");
  }

  void Settings() {
    LocalQuery q(local_, "Select name, zip From Settings");
    if (!q.Next()) return;
    UseHome();
    central_.Execute("Update Installations Set locName = " + DefaultQuoted(q["name"]) +
                     ", zip = " + DefaultQuoted(q["zip"]) + " Where id = " + instId_ + ";");
  }

  void Entries() {
    Installation("Delete From Entries;");
    LocalQuery q(local_,
                 "Select entryId, entryName, mesLine1, mesLine2, mesLine3, version From Entries");
    while (q.Next()) {
      central_.Execute(
          "Insert Into Entries (entryId, entryName, mesLine1, mesLine2, mesLine3, version) "
          "Values (" +
          Number(q["entryId"], "Entries.entryId") + ", " +
          Quoted(q["entryName"], "Entries.entryName") + ", " + DefaultQuoted(q["mesLine1"]) + ", " +
          DefaultQuoted(q["mesLine2"]) + ", " + DefaultQuoted(q["mesLine3"]) + ", " +
          DefaultQuoted(q["version"]) + " );");
    }
  }

  void PackagesSettings() {
    Installation("Delete From Packages_Settings;");
    LocalQuery q(local_, "Select id, mailRoomName From Packages_Settings");
    while (q.Next()) {
      central_.Execute("Insert Into Packages_Settings (id, mailRoomName) Values (" +
                       Number(q["id"], "Packages_Settings.id") + ", " +
                       NullableQuoted(q["mailRoomName"]) + " );");
    }
  }

  void PackagesTypes() {
    Installation("Delete From Packages_Types;");
    LocalQuery q(local_, "Select * From Packages_Types");
    while (q.Next()) {
      central_.Execute(
          "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values (" +
          Number(q["id"], "Packages_Types.id") + ", " + NullableQuoted(q["packageTypeLongName"]) +
          ", " + NullableQuoted(q["packageTypeImage"]) + " );");
    }
  }

  void Emails() {
    UseHome();
    central_.Execute("Delete From Emails Where instId = " + instId_ + " And resId = " + R_ + ";");
    LocalQuery q(local_, "Select * From Emails Where resId = " + R_);
    if (!q.Next()) return;
    central_.Execute(
        "Insert Into Emails (instId, emailId, resId, email, iPhoneDeviceId) Values (" + instId_ +
        ", " + Number(q["id"], "Emails.id") + ", " + Number(q["resId"], "Emails.resId") + ", " +
        Quoted(q["email"], "Emails.email") + ", " + DefaultQuoted(q["iPhoneDeviceId"]) + ");");
  }

  void PackagesA() {
    UseInstallation();
    LocalQuery q(local_, "Select * From Packages Where id = " + K_);
    if (!q.Next()) return;
    const std::string nameId = Number(q["nameId"], "Packages.nameId");
    central_.Execute(
        "Insert Into Packages (id, nameId, packageType, packageDate, pickupDate) "
        "Values (" +
        Number(q["id"], "Packages.id") + ", " + nameId + ", " +
        Number(q["packageType"], "Packages.packageType") + ", " + NullableDate(q["packageDate"]) +
        ", " + NullableDate(q["pickupDate"]) + " );");
    if (q["pickupDate"].IsNull()) {
      // A package waiting to be picked up: the central side alerts the resident.
      UseHome();
      central_.Execute("Insert Into ClientQueue (instId, resId, alertType) Values (" + instId_ +
                       ", " + nameId + ", " + TextLiteral("Package") + ");");
    }
  }

  void PackagesU() {
    UseInstallation();
    LocalQuery q(local_, "Select pickupDate From Packages Where id = " + K_);
    if (!q.Next()) return;
    central_.Execute("Update Packages Set pickupDate = " + NullableDate(q["pickupDate"]) +
                     " Where id = " + K_ + ";");
  }

  void Logs() {
    UseInstallation();
    LocalQuery q(local_, "Select * From Logs Where id = " + K_, db::Cursor::Keyset);
    if (!q.Next()) return;
    const std::int64_t id = IntegerOf(q["id"], "Logs.id");
    central_.Execute(
        "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) "
        "Values (" +
        std::to_string(id) + ", " + Number(q["entryId"], "Logs.entryId") + ", " +
        Number(q["residentId"], "Logs.residentId") + ", " + NullableDate(q["aDateTime"]) + ", " +
        NullableQuoted(q["action"]) + ", " + NullableQuoted(q["data"]) + ", " +
        NullableQuoted(q["computerName"]) + " );");
    const bool photo = q["photo"].HoldsData();
    const bool photo2 = q["photo2"].HoldsData();
    if (photo) StorePhoto(q["photo"], id, "photo", "Logs", photos::kPhotoSuffix);
    if (photo2) StorePhoto(q["photo2"], id, "photo2", "Logs", photos::kSecondPhotoSuffix);
    if (photo || photo2) Send("UDLG");
  }

  void AdditionalPhotos() {
    UseInstallation();
    LocalQuery q(local_, "Select * From AdditionalPhotos Where id = " + K_, db::Cursor::Keyset);
    if (!q.Next() || !q["photo"].HoldsData()) return;
    const std::int64_t id = IntegerOf(q["id"], "AdditionalPhotos.id");
    central_.Execute("Insert Into AdditionalPhotos (id, label, resId) Values (" +
                     std::to_string(id) + ", " + DefaultQuoted(q["label"]) + ", " +
                     Number(q["resId"], "AdditionalPhotos.resId") + ");");
    StorePhoto(q["photo"], id, "photo", "AdditionalPhotos", photos::kPhotoSuffix);
    Send("UDAP");
  }

  void AdditionalPhotosL() {
    UseInstallation();
    LocalQuery q(local_, "Select label From AdditionalPhotos Where id = " + K_);
    if (!q.Next()) return;
    central_.Execute("Update AdditionalPhotos Set label = " + DefaultQuoted(q["label"]) +
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

  const QueuedChangeContext& ctx_;
  db::Connection& local_;
  db::Connection& central_;
  const QueuedChange& c_;
  const std::string instId_;
  const std::string number_;
  const std::string R_;
  const std::string K_;
  bool mailRoom_ = false;
  bool unknown_ = false;
};

void CloseQuietly(const QueuedChangeContext& ctx) {
  try {
    if (ctx.closeCentral) ctx.closeCentral();
  } catch (...) {
    // Closing a connection that is already gone leaves nothing to undo.
  }
}

db::Connection& Required(db::Connection* connection, const char* which) {
  if (connection == nullptr) {
    throw db::DbError(db::kErrNotOpen, std::string("Operation is not allowed when the object is "
                                                   "closed (") +
                                           which + " database)");
  }
  return *connection;
}

// An open central connection that still answers.
bool Answers(const QueuedChangeContext& ctx) {
  db::Connection* central = ctx.central ? ctx.central() : nullptr;
  if (central == nullptr || !central->IsOpen()) return false;
  try {
    std::unique_ptr<db::Rowset> rows = central->Query("Select 1");
    rows->Close();
    return true;
  } catch (...) {
    CloseQuietly(ctx);
    return false;
  }
}

}  // namespace

ChangeResult TransferResDataToCX(const QueuedChangeContext& ctx, const QueuedChange& change) {
  try {
    const bool reused = ctx.reuseCentral && Answers(ctx);
    if (!reused && (!ctx.openCentral || !ctx.openCentral())) return ChangeResult::NotConnected;
  } catch (...) {
    return ChangeResult::NotConnected;
  }

  auto remove = [&] {
    return ctx.local != nullptr && RemoveQueue(*ctx.local, change.id, ctx.writeLog);
  };

  bool failed = false;
  long number = 0;
  std::string description;
  bool unknown = false;
  try {
    // The id stands bare in statements: it must be a whole number before the
    // first statement goes out.
    const std::int64_t installationId = CheckedInstallationId(ctx.installationId);
    Change work(ctx, Required(ctx.local, "local"),
                Required(ctx.central ? ctx.central() : nullptr, "central"), change, installationId,
                InstallationNumber(ctx.installationId));
    work.Run();
    unknown = work.unknown();
  } catch (const db::DbError& e) {
    failed = true;
    number = e.number();
    description = e.description();
  } catch (const std::exception& e) {
    failed = true;
    description = e.what();
  }

  if (!failed) {
    if (!ctx.reuseCentral) CloseQuietly(ctx);
    if (!remove()) return ChangeResult::NotRemoved;
    if (unknown) {
      // Nothing was written; the row is gone, so leave a trace of it.
      AppendFailedChange(FailedChangesPath(ctx.appFolder),
                         {std::to_string(change.id), change.tableName, std::to_string(change.resId),
                          std::to_string(change.recordId), 0, "unknown change kind"});
    }
    return ChangeResult::Uploaded;
  }

  if (ctx.writeLog) ctx.writeLog(kRoutine, number, description);
  CloseQuietly(ctx);
  if (!remove()) return ChangeResult::NotRemoved;
  AppendFailedChange(FailedChangesPath(ctx.appFolder),
                     {std::to_string(change.id), change.tableName, std::to_string(change.resId),
                      std::to_string(change.recordId), number, description});
  return ChangeResult::Failed;
}

}  // namespace pv::sync
