#include "sync/full_upload.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "db/connections/installation.h"
#include "db/error.h"
#include "photos/image_transfer.h"
#include "photos/photo_files.h"
#include "schema/central_schema.h"
#include "sync/central_job.h"
#include "sync/value_forms.h"

namespace pv::sync {

namespace {

constexpr char kRoutine[] = "TransferDataToCX()";

// How one value of a local row enters an INSERT.
enum class Form {
  Number,        // bare number (text conversion of an id)
  Quoted,        // quoted, quote doubling; Null fails
  Raw,           // raw insertion, quoted; Null gives ''
  Default,       // null default (empty), quoted
  DefaultFalse,  // null default "False", quoted
  Nullable,      // nullable, quote doubling
  NullableDate,  // nullable date
  MailRoom,      // bare number or Null; always Null when the site has no mail room
};

struct ValueCopy {
  const char* column;
  Form form;
};

struct PhotoCopy {
  const char* column;
  std::string_view suffix;
};

// One table of the copy: its local query, its INSERT and its photo columns.
// The query leaves the photo columns out: each photo is streamed from its row
// to the temp file on its own, so no photo is ever held in memory.
struct TableCopy {
  const char* table;
  const char* query;
  const char* insertHead;  // column list up to and including "Values ("
  std::vector<ValueCopy> values;
  const char* insertTail;  // ");" or " );"
  std::vector<PhotoCopy> photos;
  bool onlyRowsWithPhoto = false;
};

const char kNamesColumns[] =
    "id, resType, lastName, firstName, suite, company, "
    "button1Type, button2Type, button3Type, "
    "phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, phone3, button3Loc, "
    "button3Comm, "
    "hide, hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr, dmCode";

TableCopy NamesCopy() {
  return {"Names",
          nullptr,  // built from the mail-room flag
          "Insert Into Names (id, resType, lastName, firstName, suite, company, "
          "button1Type, button2Type, button3Type, "
          "phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, phone3, button3Loc, "
          "button3Comm, "
          "hide, hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr, mailRoomID, dmCode) "
          "Values (",
          {{"id", Form::Number},
           {"resType", Form::Raw},
           {"lastName", Form::Quoted},
           {"firstName", Form::Quoted},
           {"suite", Form::Quoted},
           {"company", Form::Quoted},
           {"button1Type", Form::Raw},
           {"button2Type", Form::Raw},
           {"button3Type", Form::Raw},
           {"phone1", Form::Quoted},
           {"button1Loc", Form::Quoted},
           {"button1Comm", Form::Quoted},
           {"phone2", Form::Quoted},
           {"button2Loc", Form::Quoted},
           {"button2Comm", Form::Quoted},
           {"phone3", Form::Quoted},
           {"button3Loc", Form::Quoted},
           {"button3Comm", Form::Quoted},
           {"hide", Form::Raw},
           {"hideBut1", Form::Raw},
           {"hideBut2", Form::Raw},
           {"hideBut3", Form::Raw},
           {"notes1", Form::Nullable},
           {"notes2", Form::Nullable},
           {"photoDescr", Form::Nullable},
           {"mailRoomID", Form::MailRoom},
           {"dmCode", Form::Default}},
          ");",
          {{"photo", photos::kPhotoSuffix}}};
}

std::vector<TableCopy> InstallationTables() {
  std::vector<TableCopy> t;
  t.push_back(NamesCopy());
  t.push_back({"TenantAccess",
               "Select * From TenantAccess",
               "Insert Into TenantAccess (resId, code, descr, "
               "codeDates, codeDays, codeTimes, "
               "codeStartDate, codeEndDate, codeStartTime, codeEndTime, "
               "codeMon, codeTue, codeWed, codeThr, codeFri, codeSat, codeSun, "
               "numericalCode, accessType0, accessType1, accessType2, accessType3, accessType4, "
               "accessType5) Values (",
               {{"resId", Form::Number},
                {"code", Form::Raw},
                {"descr", Form::Quoted},
                {"codeDates", Form::Raw},
                {"codeDays", Form::Raw},
                {"codeTimes", Form::Raw},
                {"codeStartDate", Form::Raw},
                {"codeEndDate", Form::Raw},
                {"codeStartTime", Form::Raw},
                {"codeEndTime", Form::Raw},
                {"codeMon", Form::Raw},
                {"codeTue", Form::Raw},
                {"codeWed", Form::Raw},
                {"codeThr", Form::Raw},
                {"codeFri", Form::Raw},
                {"codeSat", Form::Raw},
                {"codeSun", Form::Raw},
                {"numericalCode", Form::Default},
                {"accessType0", Form::DefaultFalse},
                {"accessType1", Form::DefaultFalse},
                {"accessType2", Form::DefaultFalse},
                {"accessType3", Form::DefaultFalse},
                {"accessType4", Form::DefaultFalse},
                {"accessType5", Form::DefaultFalse}},
               " );",
               {}});
  t.push_back({"Notification",
               "Select * From Notification",
               "Insert Into Notification (resId, email) Values (",
               {{"resId", Form::Number}, {"email", Form::Quoted}},
               ");",
               {}});
  t.push_back({"NotificationF",
               "Select * From NotificationF",
               "Insert Into NotificationF (resId, email) Values (",
               {{"resId", Form::Number}, {"email", Form::Quoted}},
               ");",
               {}});
  t.push_back({"Packages",
               "Select * From Packages",
               "Insert Into Packages (id, nameId, packageType, packageDate, pickupDate) Values (",
               {{"id", Form::Number},
                {"nameId", Form::Number},
                {"packageType", Form::Number},
                {"packageDate", Form::NullableDate},
                {"pickupDate", Form::NullableDate}},
               " );",
               {}});
  t.push_back({"Packages_Types",
               "Select * From Packages_Types",
               "Insert Into Packages_Types (id, packageTypeLongName, packageTypeImage) Values (",
               {{"id", Form::Number},
                {"packageTypeLongName", Form::Nullable},
                {"packageTypeImage", Form::Nullable}},
               " );",
               {}});
  t.push_back({"Packages_Settings",
               "Select id, mailRoomName From Packages_Settings",
               "Insert Into Packages_Settings (id, mailRoomName) Values (",
               {{"id", Form::Number}, {"mailRoomName", Form::Nullable}},
               " );",
               {}});
  t.push_back({"Logs",
               "Select id, entryId, residentId, aDateTime, action, data, computerName From Logs",
               "Insert Into Logs (id, entryId, residentId, aDateTime, action, data, computerName) "
               "Values (",
               {{"id", Form::Number},
                {"entryId", Form::Number},
                {"residentId", Form::Number},
                {"aDateTime", Form::NullableDate},
                {"action", Form::Nullable},
                {"data", Form::Nullable},
                {"computerName", Form::Nullable}},
               " );",
               {{"photo", photos::kPhotoSuffix}, {"photo2", photos::kSecondPhotoSuffix}}});
  t.push_back({"Entries",
               "Select entryId, entryName, mesLine1, mesLine2, mesLine3, version From Entries",
               "Insert Into Entries (entryId, entryName, mesLine1, mesLine2, mesLine3, version) "
               "Values (",
               {{"entryId", Form::Number},
                {"entryName", Form::Quoted},
                {"mesLine1", Form::Default},
                {"mesLine2", Form::Default},
                {"mesLine3", Form::Default},
                {"version", Form::Default}},
               " );",
               {}});
  t.push_back({"AdditionalPhotos",
               "Select id, label, resId From AdditionalPhotos",
               "Insert Into AdditionalPhotos (id, label, resId) Values (",
               {{"id", Form::Number}, {"label", Form::Nullable}, {"resId", Form::Number}},
               ");",
               {{"photo", photos::kPhotoSuffix}},
               true});
  return t;
}

// Thrown at a statement boundary when the service is stopping.
struct Stopped {};

// Groups the rows of one table into central transactions ("Begin Tran" ...
// "Commit Tran") of at most `rows` rows or about kBatchBytes of statements
// and photos, so that a row costs no commit of its own and each transaction
// stays short on a real central server. With `rows` of 1 or less every
// statement commits alone. A failure or a stop leaves the open transaction
// to the connection's close, which rolls it back: the next "DATR" redoes the
// whole upload.
class Batch {
 public:
  static constexpr std::uintmax_t kBatchBytes = 4u << 20;

  Batch(db::Connection& central, int rows) : central_(central), limit_(rows > 1 ? rows : 0) {}

  // Before a row's first statement.
  void Row() {
    if (limit_ == 0 || open_) return;
    central_.Execute("Begin Tran");
    open_ = true;
  }

  // After a row's statements and photos, with their size in bytes.
  void Done(std::uintmax_t bytes) {
    if (!open_) return;
    ++rows_;
    bytes_ += bytes;
    if (rows_ >= limit_ || bytes_ >= kBatchBytes) Commit();
  }

  // At the end of a table.
  void Commit() {
    if (!open_) return;
    open_ = false;
    rows_ = 0;
    bytes_ = 0;
    central_.Execute("Commit Tran");
  }

 private:
  db::Connection& central_;
  int limit_;
  bool open_ = false;
  int rows_ = 0;
  std::uintmax_t bytes_ = 0;
};

// The size of a photo's temp file after its transfer; 0 when there is none.
std::uintmax_t FileBytes(const std::filesystem::path& path) {
  std::error_code ec;
  const std::uintmax_t n = std::filesystem::file_size(path, ec);
  return ec ? 0 : n;
}

class Upload {
 public:
  Upload(const CentralJob& job, std::int64_t installationId, std::string installationNumber,
         FullUploadCounts* counts)
      : counts_(counts),
        job_(job),
        host_(job.host()),
        central_(job.Central()),
        instId_(std::to_string(installationId)),
        number_(std::move(installationNumber)),
        batchRows_(job.host().UploadBatchRows()) {}

  // Steps after the installation database has been made current.
  void Run() {
    schema::CheckForTables(central_, job_.LogFn());
    central_.SetCurrentDatabase(host_.HomeDatabase());
    const bool mailRoom = HasMailRoom(job_.Local());
    RefreshInstallation();
    ReplaceEmails();
    central_.SetCurrentDatabase(db::InstallationDatabaseName(host_.InstallationId()));
    for (TableCopy& copy : InstallationTables()) {
      if (copy.table == std::string_view("Packages_Settings") && !mailRoom) continue;
      std::string namesQuery;
      if (copy.query == nullptr) {
        namesQuery = std::string("Select ") + kNamesColumns + (mailRoom ? ", mailRoomID" : "") +
                     " From Names Where resType = 'R' Or resType = 'S'";
        copy.query = namesQuery.c_str();
      }
      CopyTable(copy, mailRoom);
    }
  }

 private:
  // Ends the run between two statements once the service is asked to stop.
  void StopPoint() const {
    if (host_.StopRequested()) throw Stopped();
  }

  void RefreshInstallation() {
    auto q = job_.Local().Query("Select name, zip From Settings");
    if (!q->Next()) return;
    const db::Value& name = q->Get(ColumnIndex(*q, "Settings", "name"));
    const db::Value& zip = q->Get(ColumnIndex(*q, "Settings", "zip"));
    central_.Execute("Update Installations Set locName = " + DefaultQuoted(name) + ", sqlPWD = " +
                     TextLiteral(host_.LocalPassword()) + ",  zip = " + DefaultQuoted(zip) +
                     " Where id = " + TextLiteral(instId_) + ";");
  }

  void ReplaceEmails() {
    central_.Execute("Delete From Emails Where instId = " + instId_ + ";");
    auto q = job_.Local().Query("Select * From Emails");
    const int id = ColumnIndex(*q, "Emails", "id");
    const int resId = ColumnIndex(*q, "Emails", "resId");
    const int email = ColumnIndex(*q, "Emails", "email");
    db::Rowset& rows = *q;
    Batch batch(central_, batchRows_);
    std::string sql;
    while (rows.Next()) {
      StopPoint();
      sql = "Insert Into Emails (instId, emailId, resId, email) Values (" + instId_ + ", " +
            Number(rows.Get(id), "Emails.id") + ", " + Number(rows.Get(resId), "Emails.resId") +
            ", " + Quoted(rows.Get(email), "Emails.email") + ");";
      batch.Row();
      central_.Execute(sql);
      batch.Done(sql.size());
    }
    batch.Commit();
  }

  void CopyTable(const TableCopy& copy, bool mailRoom) {
    auto q = job_.Local().Query(copy.query);
    const std::string table = copy.table;
    std::vector<int> index;
    std::vector<std::string> what;
    for (const ValueCopy& v : copy.values) {
      const bool read = v.form != Form::MailRoom || mailRoom;
      index.push_back(read ? ColumnIndex(*q, table, v.column) : -1);
      what.push_back(table + "." + v.column);
    }
    const int idIndex = copy.photos.empty() ? -1 : ColumnIndex(*q, table, "id");

    db::Rowset& rows = *q;
    Batch batch(central_, batchRows_);
    std::string sql;
    long* copied = nullptr;
    if (counts_ != nullptr) {
      counts_->rows.emplace_back(table, 0);
      copied = &counts_->rows.back().second;
    }
    while (rows.Next()) {
      StopPoint();
      const std::int64_t id = idIndex < 0 ? 0 : IntegerOf(rows.Get(idIndex), table + ".id");
      // A row copied only with its photo: the file first tells whether it has one.
      if (copy.onlyRowsWithPhoto &&
          !photos::SaveImageToFile(job_.Local(), table, copy.photos[0].column, id,
                                   TempPath(copy.photos[0]))) {
        continue;
      }
      sql.assign(copy.insertHead);
      for (std::size_t k = 0; k < copy.values.size(); ++k) {
        if (k > 0) sql += ", ";
        sql += Written(copy.values[k].form, index[k] < 0 ? kNull : rows.Get(index[k]), what[k]);
      }
      sql += copy.insertTail;
      batch.Row();
      central_.Execute(sql);
      if (copied != nullptr) ++*copied;

      std::uintmax_t bytes = sql.size();
      for (std::size_t k = 0; k < copy.photos.size(); ++k) {
        const PhotoCopy& photo = copy.photos[k];
        bool carried = false;
        if (k == 0 && copy.onlyRowsWithPhoto) {
          carried = photos::UpdateImageInDB(id, photo.column, table, TempPath(photo), central_);
        } else {
          carried = photos::TransferPhoto(job_.Local(), id, central_, id, table, photo.column,
                                          TempPath(photo));
        }
        if (carried) bytes += FileBytes(TempPath(photo));
        if (carried && counts_ != nullptr) ++counts_->photos;
      }
      batch.Done(bytes);
    }
    batch.Commit();
  }

  static std::string Written(Form form, const db::Value& v, const std::string& what) {
    switch (form) {
      case Form::Number:
        return Number(v, what);
      case Form::Quoted:
        return Quoted(v, what);
      case Form::Raw:
        return RawQuoted(v);
      case Form::Default:
        return DefaultQuoted(v);
      case Form::DefaultFalse:
        return DefaultQuoted(v, "False");
      case Form::Nullable:
        return NullableQuoted(v);
      case Form::NullableDate:
        return NullableDate(v);
      case Form::MailRoom:
        return NullableNumber(v, what);
    }
    return "Null";
  }

  // Each photo passes from the local row through its temp file into the
  // central row just inserted, streamed both ways. A file that cannot be
  // written or a store that fails ends the run without "DASN".
  std::filesystem::path TempPath(const PhotoCopy& copy) const {
    return photos::TempPhotoPath(host_.AppFolder(), number_, copy.suffix);
  }

  static const db::Value kNull;

  FullUploadCounts* counts_;
  const CentralJob& job_;
  JobHost& host_;
  db::Connection& central_;
  std::string instId_;
  std::string number_;
  int batchRows_;
};

const db::Value Upload::kNull;

}  // namespace

FullUploadResult TransferDataToCX(JobHost& host, FullUploadCounts* counts) {
  CentralJob job(host, kRoutine);
  if (!job.Open()) return FullUploadResult::NotConnected;

  try {
    // The id stands bare in statements: it must be a whole number before the
    // first statement goes out.
    const std::string installationId = host.InstallationId();
    const std::int64_t id = db::CheckedInstallationId(installationId);
    const std::string database = db::InstallationDatabaseName(installationId);
    job.Central();  // the connection must be there before the database switch
    host.Central().UseInstallationDatabase(database);
    if (job.Central().CurrentDatabase() != database) {
      job.Close();
      return FullUploadResult::WrongDatabase;
    }
    Upload(job, id, db::InstallationNumber(installationId), counts).Run();
  } catch (const Stopped&) {
    job.Close();
    job.Log(JobFailure{0, kStoppedText});
    return FullUploadResult::Stopped;
  } catch (const std::exception& e) {
    job.Close();
    job.Log(FailureOf(e));
    return FullUploadResult::Failed;
  }

  job.Close();
  host.SendToCentral("DASN");
  return FullUploadResult::Completed;
}

}  // namespace pv::sync
