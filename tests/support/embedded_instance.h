// A private instance of the embedded engine for one test: a data root in a
// fresh temporary folder with the instance "localhost,1433" and one database
// in it, removed with the folder; and what tests ask of a connection.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "db/connection.h"
#include "db/embedded/embedded_engine.h"
#include "db/error.h"
#include "tests/support/temp_dir.h"

namespace pv::testing {

inline db::ConnectionParams EmbeddedParams(std::string database, std::string server = "localhost",
                                           std::string port = "1433", std::string user = "sa",
                                           std::string password = "") {
  return {server, port, user, password, database};
}

class EmbeddedTest : public ::testing::Test {
 protected:
  // Creates the instance and, unless it is "master", the database `database`.
  explicit EmbeddedTest(std::string database = "Portavento")
      : root_(std::filesystem::path(dir_.path()).parent_path()), database_(std::move(database)) {
    db::embedded::CreateInstance(root_, "localhost", "1433");
    if (database_ != "master") Connect("master")->Execute("Create Database " + database_);
  }

  // A new connection to the instance, `database` current (by default the
  // test's database).
  std::unique_ptr<db::Connection> Connect(const std::string& database = {}) const {
    auto c = db::embedded::MakeEmbeddedConnection(root_);
    c->Open(EmbeddedParams(database.empty() ? database_ : database));
    return c;
  }

  // A file of `size` pseudo-random bytes in the data root.
  std::filesystem::path RandomFile(const std::string& name, std::size_t size,
                                   unsigned seed = 7) const {
    std::mt19937 gen(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(gen() & 0xff);
    WriteFile((root_ / name).string(), bytes);
    return root_ / name;
  }

 private:
  TempDir dir_;

 protected:
  const std::filesystem::path root_;
  const std::string database_;
};

// The number of the DbError that `f` throws, its text in `description`; 0
// when it throws none.
template <class F>
long DbErrorOf(F&& f, std::string* description = nullptr) {
  try {
    f();
  } catch (const db::DbError& e) {
    if (description) *description = e.description();
    return e.number();
  }
  return 0;
}

// The first value of the first row of `sql` (Null, and a failure, when there
// is no row).
inline db::Value Scalar(db::Connection& c, const std::string& sql) {
  auto rows = c.Query(sql);
  if (!rows->Next()) {
    ADD_FAILURE() << "no row: " << sql;
    return db::Value::Null();
  }
  return rows->Get(0);
}

inline db::Bytes FileBytes(const std::filesystem::path& file) {
  const std::string text = ReadFile(file.string());
  return db::Bytes(text.begin(), text.end());
}

}  // namespace pv::testing
