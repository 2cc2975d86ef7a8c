// Instances of the embedded engine: folders under the data root, their
// logins, their databases (one SQLite file each) and the offline marker.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace pv::db::embedded {

inline constexpr long kErrDatabaseExists = 1801;
inline constexpr long kErrNoSuchDatabase = 911;
inline constexpr long kErrCannotOpenDatabase = 4060;
inline constexpr long kErrLoginFailed = 18456;
inline constexpr long kErrLinkFailure = 10054;
inline constexpr long kErrCreateFile = 5123;
inline constexpr long kErrNoDatabaseToDrop = 3701;
inline constexpr long kErrDatabaseInUse = 3702;
inline constexpr long kErrLockTimeout = 1222;
inline constexpr long kErrQueryTimeout = -2147217871;  // "Query timeout expired"
inline constexpr long kErrFileOpen = 3002;             // a file could not be read

// One instance folder with the operations on its catalog.
class Instance {
 public:
  // The instance named by server and port under root; throws DbError 17 for
  // a port that is not a number from 1 to 65535.
  Instance(const std::filesystem::path& root, const std::string& server, const std::string& port);

  const std::filesystem::path& folder() const { return folder_; }
  const std::filesystem::path& OfflineMarker() const { return marker_; }
  bool Exists() const;
  // Exists and has no offline marker.
  bool Online() const;
  // The offline marker is there (one look at the disk, for every statement).
  bool MarkedOffline() const;

  // Throws DbError 17 naming server and port unless the instance exists and is online.
  void RequireReachable() const;

  void Create() const;
  void SetLogin(const std::string& user, const std::string& password) const;
  bool CheckLogin(const std::string& user, const std::string& password) const;
  void SetOnline(bool online) const;

  // The file of the database whose name matches `name` without regard to
  // case; nullopt when there is none.
  std::optional<std::filesystem::path> FindDatabase(const std::string& name) const;
  // Creates the database; DbError 1801 when one of that name exists.
  void CreateDatabase(const std::string& name) const;
  // Removes the database's files; DbError 3701 when there is none. Other
  // connections on it fail their next statement (SqliteHandle::FileGone).
  void DropDatabase(const std::string& name) const;

  // The database name a file stands for ("Portavento.sqlite" -> "Portavento").
  static std::string DatabaseName(const std::filesystem::path& file);

  const std::string& server() const { return server_; }
  const std::string& port() const { return port_; }

 private:
  std::filesystem::path CatalogFile() const { return folder_ / "instance.db"; }
  void RequireExists() const;

  std::string server_;
  std::string port_;
  std::filesystem::path folder_;
  std::filesystem::path marker_;
};

// The database name without brackets or quotes around it; empty when it
// cannot name a database file (path separators, control characters, ...).
std::string CleanDatabaseName(const std::string& name);

}  // namespace pv::db::embedded
