#include "sync/central_changes.h"

#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "db/connections/installation.h"
#include "db/error.h"
#include "photos/image_transfer.h"
#include "photos/photo_files.h"
#include "sync/central_job.h"
#include "sync/queue_rows.h"
#include "sync/resident_changes.h"
#include "sync/value_forms.h"

namespace pv::sync {

namespace {

constexpr char kRoutine[] = "TransferDataFromCX()";
constexpr long kErrSubscriptOutOfRange = 9;

enum class Kind {
  TenantAccess,
  Notification,
  NotificationF,
  Names,
  PhotoR,
  PhotoU,
  Emails,
  NamesA,
  NamesR,
  NamesU,
  AdditionalPhotos,
  AdditionalPhotosR,
  AdditionalPhotosL,
};

struct KindName {
  const char* name;
  Kind kind;
};

// Matched in this order, without regard to case.
constexpr KindName kKinds[] = {
    {"TenantAccess", Kind::TenantAccess},
    {"Notification", Kind::Notification},
    {"NotificationF", Kind::NotificationF},
    {"Names", Kind::Names},
    {"PhotoR", Kind::PhotoR},
    {"PhotoU", Kind::PhotoU},
    {"Emails", Kind::Emails},
    {"NamesA", Kind::NamesA},
    {"NamesR", Kind::NamesR},
    {"NamesU", Kind::NamesU},
    {"AdditionalPhotos", Kind::AdditionalPhotos},
    {"AdditionalPhotosR", Kind::AdditionalPhotosR},
    {"AdditionalPhotosL", Kind::AdditionalPhotosL},
};

const KindName* FindKind(std::string_view word) {
  for (const KindName& k : kKinds) {
    if (common::EqualsNoCase(word, k.name)) return &k;
  }
  return nullptr;
}

// Record id and item id stand bare in statements: only a whole number is
// accepted, written back in decimal.
std::string IdField(const std::string& field, const char* what) {
  const std::optional<std::int64_t> v = common::ParseInteger(field);
  if (!v) {
    std::string shown = field.size() > 40 ? field.substr(0, 40) + "..." : field;
    throw db::DbError(kErrNotANumber, std::string("Type mismatch: ") + what + " '" + shown +
                                          "' is not a whole number");
  }
  return std::to_string(*v);
}

class Change {
 public:
  Change(ChangeScope& scope, const std::vector<std::string>& fields, std::string number)
      : s_(scope), fields_(fields), number_(std::move(number)) {}

  void Run(Kind kind) {
    switch (kind) {
      case Kind::TenantAccess:
        return ReplaceTenantAccess(RecordId());
      case Kind::Notification:
        return ReplaceNotification("Notification", RecordId());
      case Kind::NotificationF:
        return ReplaceNotification("NotificationF", RecordId());
      case Kind::Names:
        return CopyButtons(RecordId());
      case Kind::PhotoR:
        s_.local.Execute("Update Names Set photo = Null, photoDescr = '' Where id = " + RecordId() +
                         ";");
        return;
      case Kind::PhotoU:
        return CopyPhoto(RecordId());
      case Kind::Emails:
        return CopyEmail(RecordId());
      case Kind::NamesA:
        return ApplyNamesA(s_);
      case Kind::NamesR:
        return DeleteResident(RecordId());
      case Kind::NamesU:
        return ApplyNamesU(s_, RecordId());
      case Kind::AdditionalPhotos:
        return AddPhoto(RecordId());
      case Kind::AdditionalPhotosR:
        s_.local.Execute("Delete From AdditionalPhotos Where id = " + ItemId() + ";");
        return;
      case Kind::AdditionalPhotosL:
        return CopyLabel(ItemId());
    }
  }

 private:
  std::string RecordId() const { return IdField(fields_[1], "record id"); }
  std::string ItemId() const { return IdField(fields_[3], "item id"); }

  void ReplaceTenantAccess(const std::string& r) {
    s_.UseInstallationDatabase();
    s_.local.Execute("Delete From TenantAccess Where resId = " + r + ";");
    auto rows = s_.central.Query("Select * From TenantAccess Where resId = " + r);
    static constexpr const char* kRaw[] = {
        "codeDates",     "codeDays",    "codeTimes", "codeStartDate", "codeEndDate",
        "codeStartTime", "codeEndTime", "codeMon",   "codeTue",       "codeWed",
        "codeThr",       "codeFri",     "codeSat",   "codeSun"};
    std::string sql;
    while (rows->Next()) {
      sql.assign(
          "Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, "
          "codeStartDate, codeEndDate, codeStartTime, codeEndTime, "
          "codeMon, codeTue, codeWed, codeThr, codeFri, codeSat, codeSun, "
          "numericalCode, accessType0, accessType1, accessType2, accessType3, accessType4, "
          "accessType5) Values (");
      sql += Number(rows->Get("resId"), "TenantAccess.resId");
      sql += ", " + RawQuoted(rows->Get("code"));
      sql += ", " + Quoted(rows->Get("descr"), "TenantAccess.descr");
      for (const char* column : kRaw) sql += ", " + RawQuoted(rows->Get(column));
      sql += ", " + DefaultQuoted(rows->Get("numericalCode"));
      for (const char* column : {"accessType0", "accessType1", "accessType2", "accessType3",
                                 "accessType4", "accessType5"}) {
        sql += ", " + DefaultQuoted(rows->Get(column), "False");
      }
      sql += " );";
      s_.local.Execute(sql);
    }
  }

  void ReplaceNotification(const std::string& table, const std::string& r) {
    s_.UseInstallationDatabase();
    s_.local.Execute("Delete From " + table + " Where resId = " + r + ";");
    auto rows = s_.central.Query("Select * From " + table + " Where resId = " + r);
    while (rows->Next()) {
      s_.local.Execute("Insert Into " + table + " (resId, email) Values (" +
                       Number(rows->Get("resId"), table + ".resId") + ", " +
                       Quoted(rows->Get("email"), table + ".email") + ");");
    }
  }

  void CopyButtons(const std::string& r) {
    s_.UseInstallationDatabase();
    auto row = s_.central.Query(
        "Select button1Type, button2Type, button3Type, "
        "phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, "
        "phone3, button3Loc, button3Comm From Names Where id = " +
        r);
    if (!row->Next()) return;
    std::string sql = "Update Names Set ";
    for (int b = 1; b <= 3; ++b) {
      const std::string n = std::to_string(b);
      const std::string type = "button" + n + "Type";
      const std::string phone = "phone" + n;
      const std::string loc = "button" + n + "Loc";
      const std::string comm = "button" + n + "Comm";
      sql += type + " = " + RawQuoted(row->Get(type.c_str())) + ", ";
      sql += phone + " = " + Quoted(row->Get(phone.c_str()), "Names." + phone) + ", ";
      sql += loc + " = " + Quoted(row->Get(loc.c_str()), "Names." + loc) + ", ";
      sql += comm + " = " + Quoted(row->Get(comm.c_str()), "Names." + comm);
      sql += b < 3 ? ", " : " ";
    }
    sql += "Where id = " + r + ";";
    row.reset();
    s_.local.Execute(sql);
  }

  // The central photo streams through its temp file into the local row; a
  // failure of either step fails the change (kept when passing). Only a photo
  // stored locally is cleared centrally.
  void CopyPhoto(const std::string& r) {
    s_.UseInstallationDatabase();
    auto row = s_.central.Query("Select photoDescr From Names Where id = " + r);
    if (!row->Next()) return;
    const std::string descr = DefaultQuoted(row->Get("photoDescr"));
    row.reset();
    const std::int64_t id = std::stoll(r);
    const auto temp = Temp(photos::kPhotoSuffix);
    if (!photos::SaveImageToFile(s_.central, "Names", "photo", id, temp)) {
      s_.local.Execute("Update Names Set photoDescr = " + descr + " Where id = " + r + ";");
      return;
    }
    // The description goes with the old photo's removal, before the new one
    // is stored: an update of other columns of a row that holds a large
    // photo rebuilds the whole row in memory on the embedded engine. A change
    // that fails after this is done again whole, to the same end.
    s_.local.Execute("Update Names Set photoDescr = " + descr + ", photo = Null Where id = " + r +
                     ";");
    if (photos::UpdateImageInDB(id, "photo", "Names", temp, s_.local)) {
      // The photo now lives in the local database only.
      s_.central.Execute("Update Names Set photo = Null Where id = " + r + ";");
    }
  }

  void CopyEmail(const std::string& r) {
    s_.UseHomeDatabase();
    auto row = s_.central.Query("Select email, iPhoneDeviceId From Emails Where instId = " +
                                s_.InstallationId() + " And resId = " + r);
    if (!row->Next()) return;
    // Quotes are taken out of the address, not doubled.
    std::string email = TextOf(row->Get("email"), "Emails.email");
    std::erase(email, '\'');
    const std::string sql = "Update Emails Set email = " + TextLiteral(email) +
                            ", iPhoneDeviceId = " + DefaultQuoted(row->Get("iPhoneDeviceId")) +
                            " Where resId = " + r + ";";
    row.reset();
    s_.local.Execute(sql);
  }

  void DeleteResident(const std::string& r) {
    s_.local.Execute("Delete From Names Where id = " + r + ";" +
                     "Delete From Emails Where resId = " + r + ";" +
                     "Delete From TenantAccess Where resId = " + r + ";" +
                     "Delete From Packages Where nameId = " + r + ";" +
                     "Delete From Notification Where resId = " + r + ";" +
                     "Delete From NotificationF Where resId = " + r + ";" +
                     "Delete From STRPanelButtons Where resId = " + r + ";" +
                     "Delete From VoIPInZone Where resId = " + r + ";" +
                     "Delete From AdditionalPhotos Where resId = " + r + ";");
  }

  // A central additional photo with a negative id becomes a local row; the
  // central row then takes the local id. Delivered again after a stop
  // half-way, it goes on with the local row the first delivery made.
  void AddPhoto(const std::string& r) {
    s_.UseInstallationDatabase();
    auto row = s_.central.Query("Select id, label, resId From AdditionalPhotos Where resId = " + r +
                                " And id < 0");
    if (!row->Next()) return;
    const std::int64_t centralId = IntegerOf(row->Get("id"), "AdditionalPhotos.id");
    const std::string label = DefaultQuoted(row->Get("label"));
    const std::string resId = Number(row->Get("resId"), "AdditionalPhotos.resId");
    row.reset();
    const auto path = Temp(photos::kDownloadedPhotoSuffix);
    if (!photos::SaveImageToFile(s_.central, "AdditionalPhotos", "photo", centralId, path)) return;
    std::int64_t newId = RowLeftByEarlierDelivery(s_, "AdditionalPhotos",
                                                  "resId = " + resId + " And label = " + label,
                                                  "AdditionalPhotos", "recordId");
    if (newId == 0) {
      newId = InsertReturningId(
          s_.local, "AdditionalPhotos",
          "Insert Into AdditionalPhotos (label, resId) Values (" + label + ", " + resId + ");");
    }
    if (photos::UpdateImageInDB(newId, "photo", "AdditionalPhotos", path, s_.local)) {
      s_.central.Execute("Update AdditionalPhotos Set id = " + std::to_string(newId) +
                         ", photo = Null Where id = " + std::to_string(centralId) + ";");
    }
  }

  void CopyLabel(const std::string& i) {
    s_.UseInstallationDatabase();
    auto row = s_.central.Query("Select label From AdditionalPhotos Where id = " + i);
    if (!row->Next()) return;
    const std::string sql =
        "Update AdditionalPhotos Set label = " + DefaultQuoted(row->Get("label")) +
        " Where id = " + i + ";";
    row.reset();
    s_.local.Execute(sql);
  }

  std::filesystem::path Temp(std::string_view suffix) const {
    return photos::TempPhotoPath(s_.host.AppFolder(), number_, suffix);
  }

  ChangeScope& s_;
  const std::vector<std::string>& fields_;
  std::string number_;
};

}  // namespace

int QueueRowIdOf(const std::string& field) {
  std::string_view s = field;
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  double value = 0;
  bool digits = false;
  std::size_t i = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    value = value * 10 + (s[i] - '0');
    digits = true;
  }
  if (i < s.size() && s[i] == '.') {
    double scale = 0.1;
    for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      value += (s[i] - '0') * scale;
      scale /= 10;
      digits = true;
    }
  }
  if (!digits) return 0;
  value = std::nearbyint(negative ? -value : value);
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) return 0;
  return static_cast<int>(value);
}

CentralChangeResult TransferDataFromCX(JobHost& host, const std::string& argument) {
  CentralJob job(host, kRoutine);
  if (!job.Open()) return CentralChangeResult::NotConnected;

  const std::vector<std::string> fields = common::SplitFields(argument);
  db::Connection* central = host.Central().get();
  CentralChangeResult result = CentralChangeResult::Applied;
  try {
    if (fields.size() < 4) {
      throw db::DbError(kErrSubscriptOutOfRange, "Subscript out of range: the change order has " +
                                                     std::to_string(fields.size()) +
                                                     " of its 4 fields");
    }
    job.Central();  // both connections must be there before any statement
    db::Connection& local = job.Local();
    const std::string installationId = host.InstallationId();
    const KindName* kind = FindKind(fields[2]);
    if (kind == nullptr) {
      result = CentralChangeResult::UnknownKind;
    } else {
      ChangeScope scope{host, local, *central, db::InstallationDatabaseName(installationId)};
      Change(scope, fields, db::InstallationNumber(installationId)).Run(kind->kind);
    }
  } catch (const std::exception& e) {
    const JobFailure failure = FailureOf(e);
    job.Log(failure);
    if (db::IsTransient(failure.number)) {
      // A database was away for now: the central queue row stays, so the
      // change is not lost but applied again when the server sends it again.
      job.Close();
      return CentralChangeResult::Deferred;
    }
    result = CentralChangeResult::Failed;
  }

  if (central != nullptr) {
    RemoveQueueCX(*central, host.HomeDatabase(), fields.empty() ? 0 : QueueRowIdOf(fields[0]),
                  job.LogFn());
  }
  job.Close();
  return result;
}

}  // namespace pv::sync
