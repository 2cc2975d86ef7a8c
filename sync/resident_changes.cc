#include "sync/resident_changes.h"

#include "common/text.h"
#include "db/connections/installation.h"
#include "sync/value_forms.h"

namespace pv::sync {

std::string ChangeScope::InstallationId() const {
  return std::to_string(db::CheckedInstallationId(host.InstallationId()));
}

std::int64_t InsertReturningId(db::Connection& connection, const std::string& insert) {
  auto row = connection.Query(insert + " Select SCOPE_IDENTITY()");
  if (!row->Next()) return 0;
  const db::Value id = row->Get(0);
  return id.IsNull() ? 0 : IntegerOf(id, "SCOPE_IDENTITY()");
}

void ApplyNamesA(ChangeScope& s) {
  s.UseInstallationDatabase();
  auto row = s.central.Query("Select * From Names Where id < 0");
  if (!row->Next()) return;

  const std::int64_t centralId = IntegerOf(row->Get("id"), "Names.id");
  const db::Value& company = row->Get("company");
  const std::string sortfield = !company.IsNull() && !company.ToText().empty()
                                    ? TextOf(company, "Names.company")
                                    : db::NullToDefault(row->Get("lastName"), "") + ", " +
                                          db::NullToDefault(row->Get("firstName"), "");

  std::string sql =
      "Insert Into Names (resType, firstName, lastName, company, sortfield, suite, hide, "
      "priority, inZone, floor, "
      "button1Type, button2Type, button3Type, button1Loc, button2Loc, button3Loc, "
      "button1Comm, button2Comm, button3Comm, phone1, phone2, phone3, "
      "relay1, relay2, relay3, relay1board, relay2board, relay3board, "
      "relay1length, relay2length, relay3length, "
      "hideBut1, hideBut2, hideBut3, notes1, notes2, photoDescr) Values ('R', ";
  sql += Quoted(row->Get("firstName"), "Names.firstName") + ", ";
  sql += Quoted(row->Get("lastName"), "Names.lastName") + ", ";
  sql += Quoted(row->Get("company"), "Names.company") + ", ";
  sql += TextLiteral(sortfield) + ", ";
  sql += Quoted(row->Get("suite"), "Names.suite") + ", ";
  sql += RawQuoted(row->Get("hide")) + ", 'False', ',,', '', ";
  for (const char* column :
       {"button1Type", "button2Type", "button3Type", "button1Loc", "button2Loc", "button3Loc",
        "button1Comm", "button2Comm", "button3Comm", "phone1", "phone2", "phone3"}) {
    sql += RawQuoted(row->Get(column)) + ", ";
  }
  sql += "'', '', '', '', '', '', 0, 0, 0, 'False', 'False', 'False', ";
  sql += DefaultQuoted(row->Get("notes1")) + ", " + DefaultQuoted(row->Get("notes2")) + ", " +
         DefaultQuoted(row->Get("photoDescr")) + ");";
  row.reset();

  const std::int64_t newId = InsertReturningId(s.local, sql);
  if (newId < 1) return;
  const std::string id = std::to_string(newId);
  const std::string n = std::to_string(centralId);

  s.central.Execute("Update Names Set id = " + id + " Where id = " + n + ";");
  s.central.Execute("Update Notification Set resId = " + id + " Where resId = " + n + ";");
  s.central.Execute("Update NotificationF Set resId = " + id + " Where resId = " + n + ";");

  s.UseHomeDatabase();
  const std::string instId = s.InstallationId();
  auto email =
      s.central.Query("Select email From Emails Where instId = " + instId + " And resId = " + n);
  if (!email->Next()) return;
  const std::string address = Quoted(email->Get("email"), "Emails.email");
  email.reset();
  s.local.Execute("Insert Into Emails (resId, email) Values (" + id + ", " + address + ");");
  s.local.Execute("Insert Into Notification (resId, email) Values (" + id + ", " + address + ");");

  auto local = s.local.Query("Select id From Emails Where resId = " + id);
  if (!local->Next()) return;
  const std::string emailId = Number(local->Get("id"), "Emails.id");
  local.reset();
  // Only this installation's row: another installation may use the same
  // negative id for a resident of its own.
  s.central.Execute("Update Emails Set resId = " + id + ", emailId = " + emailId +
                    " Where resId = " + n + " And instId = " + instId + ";");
  s.Send("SDWE " + s.host.InstallationId() + std::string(common::kFieldSeparator) + id);
}

void ApplyNamesU(ChangeScope& s, const std::string& r) {
  s.UseInstallationDatabase();
  {
    auto row = s.central.Query(
        "Select lastName, firstName, suite, company, dmCode, notes1, notes2, "
        "photoDescr From Names Where id = " +
        r);
    if (row->Next()) {
      const std::string sql =
          "Update Names Set lastName = " + Quoted(row->Get("lastName"), "Names.lastName") +
          ", firstName = " + Quoted(row->Get("firstName"), "Names.firstName") +
          ", suite = " + Quoted(row->Get("suite"), "Names.suite") +
          ", company = " + Quoted(row->Get("company"), "Names.company") +
          ", dmCode = " + DefaultQuoted(row->Get("dmCode")) +
          ", notes1 = " + DefaultQuoted(row->Get("notes1")) +
          ", notes2 = " + DefaultQuoted(row->Get("notes2")) +
          ", photoDescr = " + DefaultQuoted(row->Get("photoDescr")) + " Where id = " + r + ";";
      row.reset();
      s.local.Execute(sql);
    }
  }

  s.UseHomeDatabase();
  std::string localEmail;
  {
    auto row = s.local.Query("Select email From Emails Where resId = " + r);
    if (row->Next()) localEmail = TextOf(row->Get("email"), "Emails.email");
  }

  const std::string instId = s.InstallationId();
  auto central =
      s.central.Query("Select email From Emails Where instId = " + instId + " And resId = " + r);
  if (!central->Next()) {
    central.reset();
    if (!localEmail.empty()) s.local.Execute("Delete From Emails Where resId = " + r + ";");
    return;
  }
  const std::string centralEmail = TextOf(central->Get("email"), "Emails.email");
  central.reset();

  if (!localEmail.empty()) {
    if (centralEmail == localEmail) return;
    s.local.Execute("Update Emails Set email = " + TextLiteral(centralEmail) +
                    " Where resId = " + r + ";");
    s.Send("SDWC " + s.host.InstallationId() + std::string(common::kFieldSeparator) + r);
    return;
  }

  s.local.Execute("Insert Into Emails (resId, email) Values (" + r + ", " +
                  TextLiteral(centralEmail) + ");");
  s.local.Execute("Insert Into Notification (resId, email) Values (" + r + ", " +
                  TextLiteral(centralEmail) + ");");
  auto local = s.local.Query("Select id From Emails Where resId = " + r);
  if (!local->Next()) return;
  const std::string emailId = Number(local->Get("id"), "Emails.id");
  local.reset();
  // Only this installation's row: resident ids repeat across installations.
  s.central.Execute("Update Emails Set emailId = " + emailId + " Where resId = " + r +
                    " And instId = " + instId + ";");
  s.Send("SDWE " + s.host.InstallationId() + std::string(common::kFieldSeparator) + r);
}

}  // namespace pv::sync
