// The databases of a test site on the embedded engine: the local instance
// with the entry-control database "Portavento", and plain access to any
// instance for checking what the programs wrote.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "db/connection.h"

namespace pv::e2e {

struct SqlInstance {
  std::string server = "localhost";
  std::string port = "1433";
  std::string user = "sa";
  std::string password = "local";
};

// The central instance pvcentral creates by default (its --central-* options).
inline SqlInstance DefaultCentralInstance() { return {"localhost", "1434", "sa", "central"}; }
inline constexpr const char* kDefaultHomeDatabase = "PVHome";

// Creates the instance (with the login) and the "Portavento" database from
// the project's local script, with one Settings row (name, zip).
void CreateLocalSite(const std::filesystem::path& dataRoot, const SqlInstance& local);

// An open connection to `database` of the instance.
std::unique_ptr<db::Connection> Connect(const std::filesystem::path& dataRoot,
                                        const SqlInstance& instance, const std::string& database);

// The first column of the first row as text ("" for Null; throws when there
// is no row).
std::string QueryText(db::Connection& connection, const std::string& sql);
std::int64_t QueryInt(db::Connection& connection, const std::string& sql);

}  // namespace pv::e2e
