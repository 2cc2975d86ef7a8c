#include "tools/pvcentral/home_db.h"

#include <stdexcept>

#include "db/embedded/embedded_engine.h"
#include "db/sql_text.h"
#include "schema/sql_scripts.h"

namespace pv::central {
namespace {

bool IsInteger(const std::string& text) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

HomeDb::HomeDb(CentralInstance central) : central_(std::move(central)) {}

std::unique_ptr<db::Connection> HomeDb::Open(const std::string& database) const {
  auto c = db::embedded::MakeEmbeddedConnection(central_.dataRoot);
  c->Open(db::ConnectionParams{central_.server, central_.port, central_.user, central_.password,
                               database});
  return c;
}

void HomeDb::Prepare() {
  namespace emb = db::embedded;
  emb::CreateInstance(central_.dataRoot, central_.server, central_.port);
  emb::SetLogin(central_.dataRoot, central_.server, central_.port, central_.user,
                central_.password);
  auto c = Open("");
  bool exists = true;
  try {
    c->SetCurrentDatabase(central_.homeDatabase);
  } catch (const db::DbError&) {
    exists = false;
  }
  if (!exists) {
    c->Execute("Create Database " + central_.homeDatabase + ";");
    c->SetCurrentDatabase(central_.homeDatabase);
  } else {
    auto rows = c->Query(
        "Select Count(*) From INFORMATION_SCHEMA.COLUMNS Where TABLE_NAME = 'Installations'");
    if (rows->Next() && rows->Get(0).AsInteger() > 0) return;  // made by an earlier run
  }
  schema::RunSqlScript(*c, schema::ReadTextFile(central_.homeScript));
  c->Close();
}

std::string HomeDb::FindInstallation(db::Connection& c, const std::string& key) const {
  auto rows = c.Query("Select id From Installations Where installationID = N'" +
                      db::DoubleQuotes(key) + "' Order By id");
  if (!rows->Next()) return {};
  return rows->Get(0).ToText();
}

std::string HomeDb::Identify(const std::string& key) {
  try {
    auto c = Open(central_.homeDatabase);
    std::string id = FindInstallation(*c, key);
    if (id.empty()) {
      c->Execute("Insert Into Installations (installationID, locName, sqlPWD, zip) Values (N'" +
                 db::DoubleQuotes(key) + "', N'', N'', N'')");
      id = FindInstallation(*c, key);
      if (id.empty()) throw std::runtime_error("the new Installations row cannot be read back");
    }
    c->Close();
    known_[key] = id;
    return id;
  } catch (...) {
    const auto it = known_.find(key);
    if (it != known_.end()) return it->second;
    throw;
  }
}

std::vector<UpdateOrder> HomeDb::UpdateOrders(const std::string& installationId) {
  auto c = Open(central_.homeDatabase);
  std::string sql = "Select id, recordId, tableName, itemId From UpdateQueue";
  if (IsInteger(installationId)) sql += " Where instId = " + installationId;
  sql += " Order By id";
  std::vector<UpdateOrder> orders;
  auto rows = c->Query(sql);
  while (rows->Next()) {
    orders.push_back(UpdateOrder{rows->Get(0).ToText(), rows->Get(1).ToText(),
                                 rows->Get(2).ToText(), rows->Get(3).ToText()});
  }
  rows->Close();
  c->Close();
  return orders;
}

}  // namespace pv::central
