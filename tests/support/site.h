// A site for full-upload tests and the benchmark: a temporary folder holding
// an embedded local instance with the "Portavento" database, an embedded
// central instance with the home database, and the application folder with
// its photos/ sub-folder. The upload runs against them exactly as the service
// host wires it: the real central connection object, a recorded log and a
// recorded send routine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/connections/central_connection.h"
#include "sync/full_upload.h"

namespace pv::testsite {

inline constexpr char kLocalPort[] = "1433";
inline constexpr char kCentralPort[] = "1434";
inline constexpr char kHomeDatabase[] = "PVHome";
inline constexpr char kLocalPassword[] = "loc'al pw";

struct LoggedLine {
  std::string message;
  long number = 0;
  std::string detail;
};

using Rows = std::vector<std::vector<db::Value>>;

class UploadSite {
 public:
  // `mailRoom` false drops Names.mailRoomID from the local database.
  // `parent` is where the temporary folder goes (default: the system's).
  explicit UploadSite(bool mailRoom = true, const std::filesystem::path& parent = {});
  ~UploadSite();
  UploadSite(const UploadSite&) = delete;
  UploadSite& operator=(const UploadSite&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path sqlRoot() const { return root_ / "sql"; }
  std::filesystem::path appFolder() const { return root_ / "app"; }

  db::Connection& local() { return *local_; }
  // A new connection to the central instance, `database` current.
  std::unique_ptr<db::Connection> Central(const std::string& database = kHomeDatabase) const;

  // Adds Installations rows until the row with id `id` exists.
  void AddInstallations(int id);

  // The context as the service host builds it for installation id `id`.
  sync::FullUploadContext Context(const std::string& installationId);
  sync::FullUploadResult Upload(const std::string& installationId);

  void SetCentralOnline(bool online);
  // Takes the central instance offline just before the n-th statement the
  // upload executes on the central connection (1-based); 0 never.
  void TakeCentralOfflineAtStatement(int n) { offlineAtStatement_ = n; }
  // Statements executed on the central connection so far.
  int centralStatements() const { return centralStatements_; }

  db::CentralConnection& centralConnection() { return central_; }

  std::vector<std::string> sent;
  std::vector<LoggedLine> logged;

 private:
  std::unique_ptr<db::Connection> MakeCentralConnection();

  std::filesystem::path root_;
  std::unique_ptr<db::Connection> local_;
  db::CentralConnection central_;
  db::CentralConnectionSettings settings_;
  int offlineAtStatement_ = 0;
  int centralStatements_ = 0;
};

// Every row of a query, values in column order.
Rows Dump(db::Connection& connection, const std::string& sql);

// A binary literal for T-SQL: 0x + hex digits.
std::string BinaryLiteral(const db::Bytes& bytes);

// `size` bytes that differ from row to row (`seed`) and use every byte value.
db::Bytes PatternBytes(std::size_t size, std::uint32_t seed);

}  // namespace pv::testsite
