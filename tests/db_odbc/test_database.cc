#include "test_database.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <string>
#include <system_error>

#include "db/odbc/odbc_connection.h"

namespace pv::db::odbc::testing {

namespace {

// The file as the driver names it. Under Wine the SQLite3 driver is the
// host's own library, reached through Wine's odbc32 and unixODBC, and opens
// the name it is given as it is: it needs the Unix path. The nearest folder
// that exists is converted by Wine, and the rest appended, so a file in a
// missing folder stays missing. On Windows proper the name stays as it is.
std::string DriverPath(const std::filesystem::path& file) {
#ifdef _WIN32
  using ToUnix = char*(__cdecl*)(const wchar_t*);
  static const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix != nullptr) {
    std::string rest;
    for (std::filesystem::path folder = file; !folder.empty() && folder != folder.parent_path();
         folder = folder.parent_path()) {
      std::error_code ec;
      if (std::filesystem::exists(folder, ec)) {
        char* unixName = toUnix(folder.wstring().c_str());
        if (unixName == nullptr) break;
        std::string path = unixName + rest;
        HeapFree(GetProcessHeap(), 0, unixName);
        return path;
      }
      rest = "/" + folder.filename().string() + rest;
    }
  }
#endif
  return file.string();
}

}  // namespace

ConnectionParams SqliteParams(const std::filesystem::path& file) {
  ConnectionParams p;
  p.database = DriverPath(file);
  return p;
}

std::unique_ptr<Connection> OpenSqlite(const std::filesystem::path& file) {
  auto c = MakeOdbcConnection(kSqliteDriver);
  c->Open(SqliteParams(file));
  return c;
}

}  // namespace pv::db::odbc::testing
