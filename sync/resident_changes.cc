#include "sync/resident_changes.h"

#include <vector>

#include "common/text.h"
#include "db/connections/installation.h"
#include "db/error.h"
#include "sync/queue_rows.h"
#include "sync/value_forms.h"

namespace pv::sync {

std::string ChangeScope::InstallationId() const {
  return std::to_string(db::CheckedInstallationId(host.InstallationId()));
}

std::int64_t InsertReturningId(db::Connection& connection, const std::string& table,
                               const std::string& insert) {
  db::Value id;
  {
    auto row = connection.Query(insert + " Select SCOPE_IDENTITY()");
    if (row->Next()) id = row->Get(0);
  }
  if (!id.IsNull()) return IntegerOf(id, "SCOPE_IDENTITY()");
  // No identity column (the table's id is a plain key the insert or the
  // table itself filled): the new row is taken to be the one with the
  // largest id, as it is by sites whose tables were made that way.
  const std::int64_t top = GetTopID(connection, table);
  if (top == 0) {
    throw db::DbError(db::kErrTypeMismatch,
                      "Invalid use of Null: the new row of " + table + " has no id");
  }
  return top;
}

std::int64_t RowLeftByEarlierDelivery(ChangeScope& s, const std::string& table,
                                      const std::string& match, const std::string& queuedKind,
                                      const std::string& queuedColumn) {
  // A few of the newest are enough: the row of an interrupted delivery is
  // the newest of its kind unless the site added lookalikes since.
  constexpr int kCandidates = 20;
  std::vector<std::int64_t> ids;
  {
    auto rows = s.local.Query("Select id From " + table + " Where " + match +
                              " And id Not In (Select " + queuedColumn +
                              " From UpdateQueue Where tableName = " + TextLiteral(queuedKind) +
                              " And " + queuedColumn + " Is Not Null) Order By id Desc");
    while (ids.size() < kCandidates && rows->Next())
      ids.push_back(IntegerOf(rows->Get(0), table + ".id"));
  }
  for (const std::int64_t id : ids) {
    auto central = s.central.Query("Select id From " + table + " Where id = " + std::to_string(id));
    if (!central->Next()) return id;
  }
  return 0;
}

namespace {

// The e-mail steps of "NamesA" for the resident whose central id was `n` and
// whose local id is now `id`: the central address becomes the local e-mail
// row and first notification (once: a delivery after a stop finds them made)
// and the home row takes the local ids. True when the resident has a central
// address.
bool CopyNewResidentsEmail(ChangeScope& s, const std::string& id, const std::string& n) {
  s.UseHomeDatabase();
  const std::string instId = s.InstallationId();
  // The home row still has the central id, or the local one when a delivery
  // stopped after renumbering it.
  auto email = s.central.Query("Select email From Emails Where instId = " + instId +
                               " And (resId = " + n + " Or resId = " + id + ")");
  if (!email->Next()) return false;
  const std::string address = Quoted(email->Get("email"), "Emails.email");
  email.reset();
  auto local = s.local.Query("Select id From Emails Where resId = " + id);
  if (!local->Next()) {
    local.reset();
    s.local.Execute("Insert Into Emails (resId, email) Values (" + id + ", " + address + ");");
    s.local.Execute("Insert Into Notification (resId, email) Values (" + id + ", " + address +
                    ");");
    local = s.local.Query("Select id From Emails Where resId = " + id);
    if (!local->Next()) return false;
  }
  const std::string emailId = Number(local->Get("id"), "Emails.id");
  local.reset();
  // Only this installation's row: another installation may use the same
  // negative id for a resident of its own.
  s.central.Execute("Update Emails Set resId = " + id + ", emailId = " + emailId +
                    " Where resId = " + n + " And instId = " + instId + ";");
  return true;
}

}  // namespace

void ApplyNamesA(ChangeScope& s) {
  s.UseInstallationDatabase();
  auto row = s.central.Query(
      "Select id, firstName, lastName, company, suite, hide, button1Type, button2Type, "
      "button3Type, button1Loc, button2Loc, button3Loc, button1Comm, button2Comm, button3Comm, "
      "phone1, phone2, phone3, notes1, notes2, photoDescr From Names Where id < 0");
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
  std::string match;
  for (const char* column : {"firstName", "lastName", "company"}) {
    const std::string value = Quoted(row->Get(column), std::string("Names.") + column);
    sql += value + ", ";
    match += std::string(column) + " = " + value + " And ";
  }
  sql += TextLiteral(sortfield) + ", ";
  const std::string suite = Quoted(row->Get("suite"), "Names.suite");
  sql += suite + ", ";
  match += "suite = " + suite;
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

  std::int64_t newId = RowLeftByEarlierDelivery(s, "Names", match, "NamesA", "resId");
  if (newId == 0) newId = InsertReturningId(s.local, "Names", sql);
  if (newId < 1) return;
  const std::string id = std::to_string(newId);
  const std::string n = std::to_string(centralId);

  s.central.Execute("Update Notification Set resId = " + id + " Where resId = " + n + ";");
  s.central.Execute("Update NotificationF Set resId = " + id + " Where resId = " + n + ";");
  const bool welcome = CopyNewResidentsEmail(s, id, n);
  // Last: until the central resident has its local id, a delivery after a
  // stop finds it again and completes the steps above.
  s.UseInstallationDatabase();
  s.central.Execute("Update Names Set id = " + id + " Where id = " + n + ";");
  if (welcome)
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
