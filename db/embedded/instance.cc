#include "db/embedded/instance.h"

#include <sqlite3.h>

#include <fstream>
#include <memory>
#include <system_error>

#include "common/text.h"
#include "db/embedded/statement_ptr.h"
#include "db/error.h"
#include "platform/folder_watch.h"
#include "platform/utf8_paths.h"

namespace pv::db::embedded {

namespace fs = std::filesystem;

namespace {

constexpr int kCatalogBusyMs = 10000;

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqlitePtr = std::unique_ptr<sqlite3, SqliteCloser>;

// Only spaces and tabs: a name with a line break or other control character
// around it stays invalid.
std::string Trim(const std::string& s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

// The host part of a server name as the folder name spells it: this
// machine's aliases become "localhost", anything else is lower-cased.
std::string NormalizeHost(const std::string& host) {
  std::string h = common::AsciiLower(Trim(host));
  if (h.empty() || h == "localhost" || h == "127.0.0.1" || h == "::1" || h == "[::1]" ||
      h == "(local)" || h == ".") {
    return "localhost";
  }
  return h;
}

// "host" or "host\instance", with characters outside [a-z0-9._-] as %XX.
std::string ServerFolderPart(const std::string& server) {
  std::string s = Trim(server);
  std::string named;
  if (auto slash = s.find('\\'); slash != std::string::npos) {
    named = common::AsciiLower(s.substr(slash));
    s = s.substr(0, slash);
  }
  std::string raw = NormalizeHost(s) + named;
  std::string out;
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : raw) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// The port as a plain number from 1 to 65535 ("1433" when empty).
std::optional<std::string> NormalizePort(const std::string& port) {
  std::string p = Trim(port);
  if (p.empty()) return std::string("1433");
  if (p.size() > 5) return std::nullopt;
  long v = 0;
  for (char c : p) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > 65535) return std::nullopt;
  return std::to_string(v);
}

[[noreturn]] void ThrowUnreachable(const std::string& server, const std::string& port) {
  throw DbError(kErrServerUnreachable,
                "SQL Server does not exist or access denied: no server answers at " + server + "," +
                    port + ".");
}

SqlitePtr OpenCatalog(const fs::path& file, bool create) {
  sqlite3* raw = nullptr;
  int flags = create ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READWRITE;
  int rc = sqlite3_open_v2(platform::Utf8FromPath(file).c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  SqlitePtr db(raw);
  if (rc != SQLITE_OK) {
    std::string msg = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    throw DbError(kErrServerUnreachable, "The instance catalog " + platform::Utf8FromPath(file) +
                                             " cannot be opened: " + msg);
  }
  sqlite3_busy_timeout(db.get(), kCatalogBusyMs);
  return db;
}

void Exec(sqlite3* db, const std::string& sql, long number) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    throw DbError(number, msg);
  }
}

StatementPtr PrepareOrThrow(sqlite3* db, const char* sql) {
  StatementPtr st;
  if (PrepareStatement(db, sql, -1, st) != SQLITE_OK) {
    throw DbError(kErrServerUnreachable,
                  std::string("The instance catalog cannot be read: ") + sqlite3_errmsg(db));
  }
  return st;
}

constexpr const char* kCatalogSchema =
    "CREATE TABLE IF NOT EXISTS logins(name TEXT PRIMARY KEY COLLATE NOCASE, "
    "password TEXT NOT NULL);"
    "INSERT OR IGNORE INTO logins(name, password) VALUES('sa', '');";

}  // namespace

std::string CleanDatabaseName(const std::string& name) {
  std::string n = Trim(name);
  if (n.size() >= 2 &&
      ((n.front() == '[' && n.back() == ']') || (n.front() == '"' && n.back() == '"'))) {
    n = Trim(n.substr(1, n.size() - 2));
  }
  if (n.empty() || n.size() > 128 || n.front() == '.') return {};
  for (unsigned char c : n) {
    if (c < 0x20 || c == 0x7f) return {};
    switch (c) {
      case '/':
      case '\\':
      case ':':
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        return {};
      default:
        break;
    }
  }
  return n;
}

Instance::Instance(const fs::path& root, const std::string& server, const std::string& port)
    : server_(server), port_(port) {
  auto p = NormalizePort(port);
  if (!p) ThrowUnreachable(server, port);
  folder_ = root / platform::PathFromUtf8(ServerFolderPart(server) + "," + *p);
  marker_ = folder_ / "offline";
}

bool Instance::Exists() const {
  std::error_code ec;
  return fs::is_regular_file(CatalogFile(), ec);
}

bool Instance::MarkedOffline() const {
  std::error_code ec;
  return fs::exists(marker_, ec) || ec;
}

bool Instance::Online() const { return Exists() && !MarkedOffline(); }

void Instance::RequireReachable() const {
  if (!Online()) ThrowUnreachable(server_, port_);
}

void Instance::RequireExists() const {
  if (!Exists()) ThrowUnreachable(server_, port_);
}

void Instance::Create() const {
  std::error_code ec;
  fs::create_directories(folder_, ec);
  if (ec) {
    throw DbError(kErrCreateFile, "Cannot create the instance folder " +
                                      platform::Utf8FromPath(folder_) + ": " + ec.message());
  }
  // Logins live here in clear text: keep the folder to its owner.
  fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace, ec);
  SqlitePtr db = OpenCatalog(CatalogFile(), true);
  Exec(db.get(), kCatalogSchema, kErrCreateFile);
  db.reset();
  if (!FindDatabase("master")) {
    try {
      CreateDatabase("master");
    } catch (const DbError& e) {
      if (e.number() != kErrDatabaseExists) throw;
    }
  }
}

void Instance::SetLogin(const std::string& user, const std::string& password) const {
  RequireExists();
  if (Trim(user).empty()) {
    throw DbError(15007, "'" + user + "' is not a valid login or you do not have permission.");
  }
  SqlitePtr db = OpenCatalog(CatalogFile(), false);
  StatementPtr st = PrepareOrThrow(db.get(),
                                   "INSERT INTO logins(name, password) VALUES(?1, ?2) "
                                   "ON CONFLICT(name) DO UPDATE SET password = excluded.password");
  sqlite3_bind_text(st.get(), 1, user.data(), static_cast<int>(user.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(st.get(), 2, password.data(), static_cast<int>(password.size()),
                    SQLITE_TRANSIENT);
  if (sqlite3_step(st.get()) != SQLITE_DONE) {
    throw DbError(kErrCreateFile,
                  std::string("The login cannot be stored: ") + sqlite3_errmsg(db.get()));
  }
}

bool Instance::CheckLogin(const std::string& user, const std::string& password) const {
  SqlitePtr db = OpenCatalog(CatalogFile(), false);
  StatementPtr st = PrepareOrThrow(db.get(), "SELECT password FROM logins WHERE name = ?1");
  sqlite3_bind_text(st.get(), 1, user.data(), static_cast<int>(user.size()), SQLITE_TRANSIENT);
  int rc = sqlite3_step(st.get());
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) {
    throw DbError(kErrServerUnreachable,
                  std::string("The instance catalog cannot be read: ") + sqlite3_errmsg(db.get()));
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
  std::string stored(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(st.get(), 0)));
  return stored == password;
}

void Instance::SetOnline(bool online) const {
  RequireExists();
  std::error_code ec;
  if (online) {
    fs::remove(OfflineMarker(), ec);
  } else {
    std::ofstream out(OfflineMarker(), std::ios::trunc);
    out << "This instance is offline while this file exists.\n";
    out.close();
    if (!out) ec = std::make_error_code(std::errc::io_error);
  }
  platform::FolderWatch::Touch(folder_);
  if (ec) {
    throw DbError(kErrCreateFile, "Cannot change the offline marker " +
                                      platform::Utf8FromPath(OfflineMarker()) + ": " +
                                      ec.message());
  }
}

std::string Instance::DatabaseName(const fs::path& file) {
  return platform::Utf8FromPath(file.stem());
}

std::optional<fs::path> Instance::FindDatabase(const std::string& name) const {
  const std::string clean = CleanDatabaseName(name);
  if (clean.empty()) return std::nullopt;
  // The folder's listing, not a probe of the file name, gives the path: on a
  // file system that ignores case (Windows) a probe would answer with the
  // caller's spelling, and the database would then read back under a name it
  // was not created with and compare unequal to itself.
  std::error_code ec;
  std::optional<fs::path> found;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (p.extension() != ".sqlite") continue;
    const std::string stem = platform::Utf8FromPath(p.stem());
    if (!common::EqualsNoCase(stem, clean) || !it->is_regular_file(ec)) continue;
    if (stem == clean) return p;
    if (!found) found = p;
  }
  return found;
}

void Instance::CreateDatabase(const std::string& name) const {
  RequireExists();
  const std::string clean = CleanDatabaseName(name);
  if (clean.empty()) {
    throw DbError(kErrCreateFile,
                  "CREATE DATABASE failed: '" + name + "' cannot name a database file.");
  }
  // The catalog's write lock keeps two creators (pvsql, the service) from
  // making the same database under two spellings at once.
  SqlitePtr catalog = OpenCatalog(CatalogFile(), false);
  Exec(catalog.get(), "BEGIN IMMEDIATE", kErrLockTimeout);
  if (FindDatabase(clean)) {
    throw DbError(kErrDatabaseExists,
                  "Database '" + clean + "' already exists. Choose a different database name.");
  }
  const fs::path file = folder_ / platform::PathFromUtf8(clean + ".sqlite");
  sqlite3* raw = nullptr;
  int rc =
      sqlite3_open_v2(platform::Utf8FromPath(file).c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  SqlitePtr db(raw);
  if (rc == SQLITE_OK) {
    // 8 KiB pages, as SQL Server's: half the writes of SQLite's default for a
    // large binary value, hardly more for a small row.
    rc = sqlite3_exec(db.get(), "PRAGMA page_size=8192; PRAGMA journal_mode=WAL", nullptr, nullptr,
                      nullptr);
  }
  if (rc != SQLITE_OK) {
    std::string msg = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    db.reset();
    std::error_code ec;
    fs::remove(file, ec);
    throw DbError(kErrCreateFile,
                  "CREATE FILE encountered an operating system error while "
                  "attempting to open or create the physical file '" +
                      platform::Utf8FromPath(file) + "': " + msg);
  }
  db.reset();
  Exec(catalog.get(), "COMMIT", kErrCreateFile);
}

void Instance::DropDatabase(const std::string& name) const {
  RequireExists();
  SqlitePtr catalog = OpenCatalog(CatalogFile(), false);
  Exec(catalog.get(), "BEGIN IMMEDIATE", kErrLockTimeout);
  auto file = FindDatabase(name);
  if (!file || common::EqualsNoCase(DatabaseName(*file), "master")) {
    throw DbError(kErrNoDatabaseToDrop, "Cannot drop the database '" + name +
                                            "', because it does not exist or you do not have "
                                            "permission.");
  }
  std::error_code ec;
  fs::remove(*file, ec);
  platform::FolderWatch::Touch(folder_);  // its connections fail their next statement
  if (ec) {
    throw DbError(kErrNoDatabaseToDrop,
                  "Cannot drop the database '" + name + "': " + ec.message() + ".");
  }
  fs::remove(platform::PathFromUtf8(platform::Utf8FromPath(*file) + "-wal"), ec);
  fs::remove(platform::PathFromUtf8(platform::Utf8FromPath(*file) + "-shm"), ec);
  Exec(catalog.get(), "COMMIT", kErrCreateFile);
}

}  // namespace pv::db::embedded
