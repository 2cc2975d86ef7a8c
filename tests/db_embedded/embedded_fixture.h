// A private data root with one instance ("localhost", 1433) holding the
// database "Portavento", and helpers to connect to it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "db/connection.h"
#include "db/embedded/embedded_engine.h"

namespace pv::db::embedded {

class EmbeddedFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    root_ = std::filesystem::temp_directory_path() /
            ("pv_embedded_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(root_);
    CreateInstance(root_, "localhost", "1433");
    auto c = MakeEmbeddedConnection(root_);
    c->Open(Params("master"));
    c->Execute("Create Database Portavento");
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  static ConnectionParams Params(const std::string& database,
                                 const std::string& server = "localhost",
                                 const std::string& port = "1433", const std::string& user = "sa",
                                 const std::string& password = "") {
    return ConnectionParams{server, port, user, password, database};
  }

  std::unique_ptr<Connection> Connect(const std::string& database = "Portavento") {
    auto c = MakeEmbeddedConnection(root_);
    c->Open(Params(database));
    return c;
  }

  // A file of `size` pseudo-random bytes (every byte value occurs).
  std::filesystem::path RandomFile(const std::string& name, std::size_t size, unsigned seed = 7) {
    std::filesystem::path p = root_ / name;
    std::mt19937 gen(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(gen() & 0xff);
    std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
    return p;
  }

  static Bytes ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // The number of the DbError that `f` throws; 0 when it throws none.
  template <class F>
  static long ErrorOf(F&& f, std::string* description = nullptr) {
    try {
      f();
    } catch (const DbError& e) {
      if (description) *description = e.description();
      return e.number();
    }
    return 0;
  }

  std::filesystem::path root_;
};

}  // namespace pv::db::embedded
