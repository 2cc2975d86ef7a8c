// A private instance of the embedded engine for one test: its own data root
// under the test's temporary folder, removed again afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>

#include "db/connection.h"
#include "db/embedded/embedded_engine.h"

namespace pv::schema::testing {

inline std::filesystem::path UniqueTempFolder(const std::string& stem) {
  static std::atomic<int> counter{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = stem + "_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  if (info != nullptr) name += std::string("_") + info->name();
  std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

class EmbeddedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = UniqueTempFolder("pv_schema");
    db::embedded::CreateInstance(root_, "localhost", "1433");
    cn_ = Connect("");
  }
  void TearDown() override {
    if (cn_) cn_->Close();
    cn_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  std::unique_ptr<db::Connection> Connect(const std::string& database) {
    auto cn = db::embedded::MakeEmbeddedConnection(root_);
    db::ConnectionParams p;
    p.server = "localhost";
    p.port = "1433";
    p.user = "sa";
    p.database = database;
    cn->Open(p);
    return cn;
  }

  // Creates `name` and makes it the connection's current database.
  void UseNewDatabase(const std::string& name) {
    cn_->Execute("Create Database " + name + ";");
    cn_->SetCurrentDatabase(name);
  }

  // The single value of a one-row, one-column query.
  db::Value Scalar(const std::string& sql) {
    auto rows = cn_->Query(sql);
    EXPECT_TRUE(rows->Next()) << sql;
    db::Value v = rows->Get(0);
    rows->Close();
    return v;
  }

  std::int64_t Count(const std::string& from) {
    return Scalar("Select Count(*) From " + from).AsInteger();
  }

  std::filesystem::path root_;
  std::unique_ptr<db::Connection> cn_;
};

}  // namespace pv::schema::testing
