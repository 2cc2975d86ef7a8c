// A local entry-control database on a real embedded engine instance, made
// through the engine's admin calls: instance "localhost,<port>", database
// "Portavento" with a one-row Settings table.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "db/connection.h"
#include "db/embedded/embedded_engine.h"

namespace pv::testing {

inline std::filesystem::path MakeTempDir(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  return mkdtemp(pattern.data());
}

struct LocalSite {
  // Creates the instance under `sqlRoot` with login sa/`password`, the
  // database and its Settings table (with or without installationID).
  LocalSite(std::filesystem::path sqlRoot, std::string port, std::string password,
            bool withInstallationColumn)
      : root(std::move(sqlRoot)), port(std::move(port)), password(std::move(password)) {
    db::embedded::CreateInstance(root, "localhost", this->port);
    db::embedded::SetLogin(root, "localhost", this->port, "sa", this->password);
    auto c = Connect("");
    c->Execute("Create Database Portavento;");
    c->SetCurrentDatabase("Portavento");
    if (withInstallationColumn) {
      c->Execute(
          "Create Table Settings (name nvarchar(50) NULL, zip nvarchar(10) NULL, "
          "installationID nvarchar(50) NULL);");
    } else {
      c->Execute("Create Table Settings (name nvarchar(50) NULL, zip nvarchar(10) NULL);");
    }
    c->Execute("Insert Into Settings (name, zip) Values ('Test Site', '12345');");
    c->Close();
  }

  db::ConnectionParams Params(const std::string& database = "Portavento") const {
    db::ConnectionParams p;
    p.server = "localhost";
    p.port = port;
    p.user = "sa";
    p.password = password;
    p.database = database;
    return p;
  }

  std::unique_ptr<db::Connection> Connect(const std::string& database = "Portavento") const {
    auto c = db::embedded::MakeEmbeddedConnection(root);
    c->Open(Params(database));
    return c;
  }

  // The stored installation key; "<null>" for Null.
  std::string StoredKey() const {
    auto c = Connect();
    auto rows = c->Query("Select installationID From Settings");
    std::string key = "<none>";
    if (rows->Next()) key = rows->Get(0).IsNull() ? "<null>" : rows->Get(0).ToText();
    rows->Close();
    return key;
  }

  void SetOnline(bool online) const { db::embedded::SetOnline(root, "localhost", port, online); }

  std::filesystem::path root;
  std::string port;
  std::string password;
};

}  // namespace pv::testing
