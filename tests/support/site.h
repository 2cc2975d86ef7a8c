// The site of the synchronisation job tests and benchmarks: in a temporary
// folder, an embedded local instance with the "Portavento" database, an
// embedded central instance with the home database and the application folder.
// It is the jobs' host with the real central connection, recording log and sends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "db/connection.h"
#include "db/connections/central_connection.h"
#include "sync/full_upload.h"
#include "sync/job_host.h"

namespace pv::testsite {

inline constexpr char kCentralPort[] = "1434";
inline constexpr char kHomeDatabase[] = "PVHome";
inline constexpr char kLocalPassword[] = "loc'al pw";

struct LoggedLine {
  std::string message;
  long number = 0;
  std::string detail;
};

using Rows = std::vector<std::vector<db::Value>>;

class UploadSite : public sync::JobHost {
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
  std::unique_ptr<db::Connection> CentralDb(const std::string& database = kHomeDatabase) const;

  // Adds Installations rows until the row with id `id` exists.
  void AddInstallations(int id);

  // The full upload for installation id `id` (which stays the site's id).
  sync::FullUploadResult Upload(const std::string& id);

  // sync::JobHost
  db::Connection* LocalConnection() override { return local_.get(); }
  db::CentralConnection& Central() override { return central_; }
  bool OpenCentral() override;
  std::string HomeDatabase() const override { return kHomeDatabase; }
  std::string InstallationId() const override { return installationId; }
  std::filesystem::path AppFolder() const override { return appFolder(); }
  std::string LocalPassword() const override { return kLocalPassword; }
  bool UpdateQueueActive() const override { return queueActive; }
  int UploadBatchRows() const override { return batchRows; }
  bool StopRequested() const override {
    return stopAfterStatements > 0 && centralStatements_ >= stopAfterStatements;
  }
  void WriteLog(const std::string& message, long number, const std::string& detail) override {
    logged.push_back({message, number, detail});
  }
  void SendToCentral(const std::string& text) override { sent.push_back(text); }

  // The logged lines, one a line, for failure messages.
  std::string Log() const;

  std::string installationId = "1";
  // What UpdateQueueActive answers (false: the link is down).
  bool queueActive = true;
  int batchRows = kDefaultUploadBatchRows;
  // The central server refuses "Create Database" (a fault the embedded
  // engine has no setting for).
  bool refuseDatabaseCreation = false;
  // The service is asked to stop once this many central statements have run
  // (counted as centralStatements()); 0 never.
  int stopAfterStatements = 0;

  void SetCentralOnline(bool online);
  // Takes the local instance offline (its open connection fails from its
  // next statement on) or back online, the site's local connection opened
  // again.
  void SetLocalOnline(bool online);
  // Takes the central instance offline just before the n-th statement the
  // upload executes on the central connection (1-based); 0 never.
  void TakeCentralOfflineAtStatement(int n) { offlineAtStatement_ = n; }
  // Statements executed on the central connection so far.
  int centralStatements() const { return centralStatements_; }

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

// An "Insert Into Names" statement (ending in ';') for a resident of type R
// with every column the jobs write as text filled: "Doe, Jane" in suite 1,
// company and phone buttons empty, buttons of type P, nothing hidden. `set`
// gives other columns or values, each as column name and T-SQL literal.
std::string ResidentInsert(const std::vector<std::pair<std::string, std::string>>& set = {});

// Every row of a query, values in column order.
Rows Dump(db::Connection& connection, const std::string& sql);

// A binary literal for T-SQL: 0x + hex digits.
std::string BinaryLiteral(const db::Bytes& bytes);

// `size` bytes that differ from row to row (`seed`) and use every byte value.
db::Bytes PatternBytes(std::size_t size, std::uint32_t seed);

}  // namespace pv::testsite

namespace pv::db {
// Readable values in failure messages.
inline void PrintTo(const Value& v, std::ostream* os) {
  *os << (v.IsNull()                        ? std::string("Null")
          : v.type() == Value::Type::Binary ? "<" + std::to_string(v.AsBinary().size()) + " bytes>"
                                            : "'" + v.ToText() + "'");
}
}  // namespace pv::db
