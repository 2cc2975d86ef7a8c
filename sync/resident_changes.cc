#include "sync/resident_changes.h"

#include "sync/value_forms.h"

namespace pv::sync {

namespace {

constexpr char kSection[] = "\xC2\xA7";  // "§"

}  // namespace

std::string ChangeScope::InstallationId() const {
  return std::to_string(CheckedInstallationId(context.installationId));
}

void ChangeScope::Send(const std::string& message) const {
  if (context.sendMessage) context.sendMessage(message);
}

void ChangeRead::Close() noexcept {
  if (closed_) return;
  closed_ = true;
  try {
    rows_->Close();
  } catch (...) {
    // The rows are released with the object; nothing later depends on them.
  }
}

std::int64_t InsertReturningId(db::Connection& connection, const std::string& insert) {
  ChangeRead row(connection, insert + " Select SCOPE_IDENTITY()");
  if (!row.Next()) return 0;
  const db::Value id = row.At(0);
  return id.IsNull() ? 0 : IntegerOf(id, "SCOPE_IDENTITY()");
}

void ApplyNamesA(ChangeScope& s) {
  s.UseInstallationDatabase();
  ChangeRead row(s.central, "Select * From Names Where id < 0");
  if (!row.Next()) return;

  const std::int64_t centralId = IntegerOf(row["id"], "Names.id");
  const db::Value& company = row["company"];
  const std::string sortfield =
      !company.IsNull() && !company.ToText().empty()
          ? TextOf(company, "Names.company")
          : db::NullToDefault(row["lastName"], "") + ", " + db::NullToDefault(row["firstName"], "");

  std::string sql =
      "Insert Into Names (resType, firstName, lastName, company, sortfield, suite, hide, "
      "priority, inZone, floor, "
      "button1Type, button2Type, button3Type, button1Loc, button2Loc, button3Loc, "
      "button1Comm, button2Comm, button3Comm, phone1, phone2, phone3, "
      "relay1, relay2, relay3, relay1board, relay2board, relay3board, "
      "relay1length, relay2length, relay3length, "
      "hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr) Values ('R', ";
  sql += Quoted(row["firstName"], "Names.firstName") + ", ";
  sql += Quoted(row["lastName"], "Names.lastName") + ", ";
  sql += Quoted(row["company"], "Names.company") + ", ";
  sql += TextLiteral(sortfield) + ", ";
  sql += Quoted(row["suite"], "Names.suite") + ", ";
  sql += RawQuoted(row["hide"]) + ", 'False', ',,', '', ";
  for (const char* column :
       {"button1Type", "button2Type", "button3Type", "button1Loc", "button2Loc", "button3Loc",
        "button1Comm", "button2Comm", "button3Comm", "phone1", "phone2", "phone3"}) {
    sql += RawQuoted(row[column]) + ", ";
  }
  sql += "'', '', '', '', '', '', 0, 0, 0, 'False', 'False', 'False', ";
  sql += DefaultQuoted(row["notes1"]) + ", " + DefaultQuoted(row["notes2"]) + ", " +
         DefaultQuoted(row["photoDescr"]) + ");";
  row.Close();

  const std::int64_t newId = InsertReturningId(s.local, sql);
  if (newId < 1) return;
  const std::string id = std::to_string(newId);
  const std::string n = std::to_string(centralId);

  s.central.Execute("Update Names Set id = " + id + " Where id = " + n + ";");
  s.central.Execute("Update Notification Set resId = " + id + " Where resId = " + n + ";");
  s.central.Execute("Update NotificationF Set resId = " + id + " Where resId = " + n + ";");

  s.UseHomeDatabase();
  const std::string instId = s.InstallationId();
  ChangeRead email(s.central,
                   "Select email From Emails Where instId = " + instId + " And resId = " + n);
  if (!email.Next()) return;
  const std::string address = Quoted(email["email"], "Emails.email");
  email.Close();
  s.local.Execute("Insert Into Emails (resId, email) Values (" + id + ", " + address + ");");
  s.local.Execute("Insert Into Notification (resId, email) Values (" + id + ", " + address + ");");

  ChangeRead local(s.local, "Select id From Emails Where resId = " + id);
  if (!local.Next()) return;
  const std::string emailId = Number(local["id"], "Emails.id");
  local.Close();
  // Only this installation's row: another installation may use the same
  // negative id for a resident of its own.
  s.central.Execute("Update Emails Set resId = " + id + ", emailId = " + emailId +
                    " Where resId = " + n + " And instId = " + instId + ";");
  s.Send("SDWE " + s.context.installationId + kSection + id);
}

void ApplyNamesU(ChangeScope& s, const std::string& r) {
  s.UseInstallationDatabase();
  {
    ChangeRead row(s.central,
                   "Select lastName, firstName, suite, company, dmCode, notes1, notes2, "
                   "photoDescr From Names Where id = " +
                       r);
    if (row.Next()) {
      const std::string sql =
          "Update Names Set lastName = " + Quoted(row["lastName"], "Names.lastName") +
          ", firstName = " + Quoted(row["firstName"], "Names.firstName") +
          ", suite = " + Quoted(row["suite"], "Names.suite") +
          ", company = " + Quoted(row["company"], "Names.company") +
          ", dmCode = " + DefaultQuoted(row["dmCode"]) +
          ", notes1 = " + DefaultQuoted(row["notes1"]) +
          ", notes2 = " + DefaultQuoted(row["notes2"]) +
          ", photoDescr = " + DefaultQuoted(row["photoDescr"]) + " Where id = " + r + ";";
      row.Close();
      s.local.Execute(sql);
    }
  }

  s.UseHomeDatabase();
  std::string localEmail;
  {
    ChangeRead row(s.local, "Select email From Emails Where resId = " + r);
    if (row.Next()) localEmail = TextOf(row["email"], "Emails.email");
  }

  const std::string instId = s.InstallationId();
  ChangeRead central(s.central,
                     "Select email From Emails Where instId = " + instId + " And resId = " + r);
  if (!central.Next()) {
    central.Close();
    if (!localEmail.empty()) s.local.Execute("Delete From Emails Where resId = " + r + ";");
    return;
  }
  const std::string centralEmail = TextOf(central["email"], "Emails.email");
  central.Close();

  if (!localEmail.empty()) {
    if (centralEmail == localEmail) return;
    s.local.Execute("Update Emails Set email = " + TextLiteral(centralEmail) +
                    " Where resId = " + r + ";");
    s.Send("SDWC " + s.context.installationId + kSection + r);
    return;
  }

  s.local.Execute("Insert Into Emails (resId, email) Values (" + r + ", " +
                  TextLiteral(centralEmail) + ");");
  s.local.Execute("Insert Into Notification (resId, email) Values (" + r + ", " +
                  TextLiteral(centralEmail) + ");");
  ChangeRead local(s.local, "Select id From Emails Where resId = " + r);
  if (!local.Next()) return;
  const std::string emailId = Number(local["id"], "Emails.id");
  local.Close();
  // Only this installation's row: resident ids repeat across installations.
  s.central.Execute("Update Emails Set emailId = " + emailId + " Where resId = " + r +
                    " And instId = " + instId + ";");
  s.Send("SDWE " + s.context.installationId + kSection + r);
}

}  // namespace pv::sync
