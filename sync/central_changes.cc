#include "sync/central_changes.h"

#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <string_view>
#include <vector>

#include "db/error.h"
#include "photos/image_transfer.h"
#include "photos/photo_files.h"
#include "sync/queue_rows.h"
#include "sync/resident_changes.h"
#include "sync/value_forms.h"

namespace pv::sync {

namespace {

constexpr char kRoutine[] = "TransferDataFromCX()";
constexpr std::string_view kFieldSeparator = "\xC2\xA7";  // "§" in UTF-8
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

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

const KindName* FindKind(std::string_view word) {
  for (const KindName& k : kKinds) {
    if (SameIgnoringCase(word, k.name)) return &k;
  }
  return nullptr;
}

std::vector<std::string> SplitFields(const std::string& argument) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = argument.find(kFieldSeparator, start);
    if (at == std::string::npos) {
      fields.push_back(argument.substr(start));
      return fields;
    }
    fields.push_back(argument.substr(start, at - start));
    start = at + kFieldSeparator.size();
  }
}

// Record id and item id stand bare in statements: only a whole number is
// accepted, written back in decimal.
std::string IdField(const std::string& field, const char* what) {
  const std::optional<std::int64_t> v = ParseInteger(field);
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
    ChangeRead rows(s_.central, "Select * From TenantAccess Where resId = " + r);
    static constexpr const char* kRaw[] = {
        "codeDates",     "codeDays",    "codeTimes", "codeStartDate", "codeEndDate",
        "codeStartTime", "codeEndTime", "codeMon",   "codeTue",       "codeWed",
        "codeThr",       "codeFri",     "codeSat",   "codeSun"};
    std::string sql;
    while (rows.Next()) {
      sql.assign(
          "Insert Into TenantAccess (resId, code, descr, codeDates, codeDays, codeTimes, "
          "codeStartDate, codeEndDate, codeStartTime, codeEndTime, "
          "codeMon, codeTue, codeWed, codeThr, codeFri, codeSat, codeSun, "
          "numericalCode, accessType0, accessType1, accessType2, accessType3, accessType4, "
          "accessType5) Values (");
      sql += Number(rows["resId"], "TenantAccess.resId");
      sql += ", " + RawQuoted(rows["code"]);
      sql += ", " + Quoted(rows["descr"], "TenantAccess.descr");
      for (const char* column : kRaw) sql += ", " + RawQuoted(rows[column]);
      sql += ", " + DefaultQuoted(rows["numericalCode"]);
      for (const char* column : {"accessType0", "accessType1", "accessType2", "accessType3",
                                 "accessType4", "accessType5"}) {
        sql += ", " + DefaultQuoted(rows[column], "False");
      }
      sql += " );";
      s_.local.Execute(sql);
    }
  }

  void ReplaceNotification(const std::string& table, const std::string& r) {
    s_.UseInstallationDatabase();
    s_.local.Execute("Delete From " + table + " Where resId = " + r + ";");
    ChangeRead rows(s_.central, "Select * From " + table + " Where resId = " + r);
    while (rows.Next()) {
      s_.local.Execute("Insert Into " + table + " (resId, email) Values (" +
                       Number(rows["resId"], table + ".resId") + ", " +
                       Quoted(rows["email"], table + ".email") + ");");
    }
  }

  void CopyButtons(const std::string& r) {
    s_.UseInstallationDatabase();
    ChangeRead row(s_.central,
                   "Select button1Type, button2Type, button3Type, "
                   "phone1, button1Loc, button1Comm, phone2, button2Loc, button2Comm, "
                   "phone3, button3Loc, button3Comm From Names Where id = " +
                       r);
    if (!row.Next()) return;
    std::string sql = "Update Names Set ";
    for (int b = 1; b <= 3; ++b) {
      const std::string n = std::to_string(b);
      const std::string type = "button" + n + "Type";
      const std::string phone = "phone" + n;
      const std::string loc = "button" + n + "Loc";
      const std::string comm = "button" + n + "Comm";
      sql += type + " = " + RawQuoted(row[type.c_str()]) + ", ";
      sql += phone + " = " + Quoted(row[phone.c_str()], "Names." + phone) + ", ";
      sql += loc + " = " + Quoted(row[loc.c_str()], "Names." + loc) + ", ";
      sql += comm + " = " + Quoted(row[comm.c_str()], "Names." + comm);
      sql += b < 3 ? ", " : " ";
    }
    sql += "Where id = " + r + ";";
    row.Close();
    s_.local.Execute(sql);
  }

  void CopyPhoto(const std::string& r) {
    s_.UseInstallationDatabase();
    ChangeRead row(s_.central, "Select photo, photoDescr From Names Where id = " + r,
                   db::Cursor::Keyset);
    if (!row.Next()) return;
    const db::Value photo = row["photo"];
    const std::string descr = DefaultQuoted(row["photoDescr"]);
    row.Close();
    if (photo.HoldsData()) {
      const auto path = photos::TempPhotoPath(s_.context.appFolder, number_, photos::kPhotoSuffix);
      photos::RemoveFileQuietly(path);
      if (photos::SaveImageToFile(photo, path) &&
          photos::UpdateImageInDB(std::stoll(r), "photo", "Names", path, s_.local, LogFn())) {
        // The photo now lives in the local database only.
        s_.central.Execute("Update Names Set photo = Null Where id = " + r + ";");
      }
    }
    s_.local.Execute("Update Names Set photoDescr = " + descr + " Where id = " + r + ";");
  }

  void CopyEmail(const std::string& r) {
    s_.UseHomeDatabase();
    ChangeRead row(s_.central, "Select email, iPhoneDeviceId From Emails Where instId = " +
                                   s_.InstallationId() + " And resId = " + r);
    if (!row.Next()) return;
    // Quotes are taken out of the address, not doubled.
    std::string email = TextOf(row["email"], "Emails.email");
    std::erase(email, '\'');
    const std::string sql = "Update Emails Set email = " + TextLiteral(email) +
                            ", iPhoneDeviceId = " + DefaultQuoted(row["iPhoneDeviceId"]) +
                            " Where resId = " + r + ";";
    row.Close();
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

  void AddPhoto(const std::string& r) {
    s_.UseInstallationDatabase();
    ChangeRead row(s_.central, "Select * From AdditionalPhotos Where resId = " + r + " And id < 0",
                   db::Cursor::Keyset);
    if (!row.Next()) return;
    const db::Value photo = row["photo"];
    if (!photo.HoldsData()) return;
    const auto path =
        photos::TempPhotoPath(s_.context.appFolder, number_, photos::kDownloadedPhotoSuffix);
    photos::RemoveFileQuietly(path);
    if (!photos::SaveImageToFile(photo, path)) return;
    const std::int64_t centralId = IntegerOf(row["id"], "AdditionalPhotos.id");
    const std::string insert = "Insert Into AdditionalPhotos (label, resId) Values (" +
                               DefaultQuoted(row["label"]) + ", " +
                               Number(row["resId"], "AdditionalPhotos.resId") + ");";
    row.Close();
    const std::int64_t newId = InsertReturningId(s_.local, insert);
    if (photos::UpdateImageInDB(newId, "photo", "AdditionalPhotos", path, s_.local, LogFn())) {
      s_.central.Execute("Update AdditionalPhotos Set id = " + std::to_string(newId) +
                         ", photo = Null Where id = " + std::to_string(centralId) + ";");
    }
  }

  void CopyLabel(const std::string& i) {
    s_.UseInstallationDatabase();
    ChangeRead row(s_.central, "Select label From AdditionalPhotos Where id = " + i);
    if (!row.Next()) return;
    const std::string sql = "Update AdditionalPhotos Set label = " + DefaultQuoted(row["label"]) +
                            " Where id = " + i + ";";
    row.Close();
    s_.local.Execute(sql);
  }

  photos::WriteLogFn LogFn() const {
    if (s_.context.writeLog) return s_.context.writeLog;
    return [](const std::string&, long, const std::string&) {};
  }

  ChangeScope& s_;
  const std::vector<std::string>& fields_;
  std::string number_;
};

void CloseQuietly(const CentralChangeContext& ctx) {
  try {
    if (ctx.closeCentral) ctx.closeCentral();
  } catch (...) {
    // A connection that cannot be closed is replaced by the next open.
  }
}

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

CentralChangeResult TransferDataFromCX(const CentralChangeContext& ctx,
                                       const std::string& argument) {
  try {
    if (!ctx.openCentral || !ctx.openCentral()) return CentralChangeResult::NotConnected;
  } catch (...) {
    return CentralChangeResult::NotConnected;
  }

  const std::vector<std::string> fields = SplitFields(argument);
  db::Connection* central = ctx.central ? ctx.central() : nullptr;
  CentralChangeResult result = CentralChangeResult::Applied;
  try {
    if (fields.size() < 4) {
      throw db::DbError(kErrSubscriptOutOfRange, "Subscript out of range: the change order has " +
                                                     std::to_string(fields.size()) +
                                                     " of its 4 fields");
    }
    if (central == nullptr) {
      throw db::DbError(db::kErrNotOpen,
                        "Operation is not allowed when the object is closed (central database)");
    }
    if (ctx.local == nullptr) {
      throw db::DbError(db::kErrNotOpen,
                        "Operation is not allowed when the object is closed (local database)");
    }
    const std::string number = InstallationNumber(ctx.installationId);
    const KindName* kind = FindKind(fields[2]);
    if (kind == nullptr) {
      result = CentralChangeResult::UnknownKind;
    } else {
      ChangeScope scope{ctx, *ctx.local, *central, "Installation" + number};
      Change(scope, fields, number).Run(kind->kind);
    }
  } catch (const std::exception& e) {
    result = CentralChangeResult::Failed;
    if (ctx.writeLog) {
      if (const auto* dbe = dynamic_cast<const db::DbError*>(&e)) {
        ctx.writeLog(kRoutine, dbe->number(), dbe->description());
      } else {
        ctx.writeLog(kRoutine, 0, e.what());
      }
    }
  }

  if (central != nullptr) {
    RemoveQueueCX(*central, ctx.homeDatabase, fields.empty() ? 0 : QueueRowIdOf(fields[0]),
                  ctx.writeLog);
  }
  CloseQuietly(ctx);
  return result;
}

}  // namespace pv::sync
