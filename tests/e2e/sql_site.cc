#include "tests/e2e/sql_site.h"

#include <stdexcept>

#include "db/embedded/embedded_engine.h"
#include "schema/sql_scripts.h"

namespace pv::e2e {

void CreateLocalSite(const std::filesystem::path& dataRoot, const SqlInstance& local) {
  db::embedded::CreateInstance(dataRoot, local.server, local.port);
  db::embedded::SetLogin(dataRoot, local.server, local.port, local.user, local.password);
  auto c = Connect(dataRoot, local, "");
  c->Execute("Create Database Portavento;");
  c->SetCurrentDatabase("Portavento");
  schema::RunSqlScript(*c, schema::ReadSqlScript(schema::kLocalScript));
  c->Execute("Insert Into Settings (name, zip) Values (N'Test Site', N'12345')");
  c->Close();
}

std::unique_ptr<db::Connection> Connect(const std::filesystem::path& dataRoot,
                                        const SqlInstance& instance, const std::string& database) {
  auto c = db::embedded::MakeEmbeddedConnection(dataRoot);
  c->Open(db::ConnectionParams{instance.server, instance.port, instance.user, instance.password,
                               database});
  return c;
}

std::string QueryText(db::Connection& connection, const std::string& sql) {
  auto rows = connection.Query(sql);
  if (!rows->Next()) throw std::runtime_error("no row: " + sql);
  std::string text = rows->Get(0).ToText();
  rows->Close();
  return text;
}

std::int64_t QueryInt(db::Connection& connection, const std::string& sql) {
  auto rows = connection.Query(sql);
  if (!rows->Next()) throw std::runtime_error("no row: " + sql);
  const std::int64_t v = rows->Get(0).AsInteger();
  rows->Close();
  return v;
}

}  // namespace pv::e2e
