#include "service/site_check.h"

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <chrono>
#include <string>
#include <vector>

#include "db/connections/local_connection.h"
#include "platform/utf8_paths.h"
#include "service/service_host.h"
#include "settings/service_settings.h"
#include "settings/settings_check.h"

namespace pv::service {

namespace {

// The tables the service reads and writes in the local database.
const std::vector<std::string>& LocalTables() {
  static const std::vector<std::string> tables{
      "Settings",     "UpdateQueue",      "Names",           "Emails",         "TenantAccess",
      "Notification", "NotificationF",    "Packages",        "Packages_Types", "Entries",
      "Logs",         "AdditionalPhotos", "STRPanelButtons", "VoIPInZone"};
  return tables;
}

struct TableFindings {
  std::vector<std::string> missing;
  long long settingsRows = -1;  // -1: the table is missing
};

TableFindings FindTables(db::Connection& local) {
  TableFindings f;
  for (const std::string& table : LocalTables()) {
    try {
      auto q = local.Query("Select Count(*) From " + table);
      const long long n = q->Next() ? q->Get(0).AsInteger() : 0;
      q->Close();
      if (table == "Settings") f.settingsRows = n;
    } catch (const std::exception&) {
      f.missing.push_back(table);
    }
  }
  return f;
}

const char* kSettingsRowHint =
    "the local database has no row in Settings: the installation key cannot be kept and every "
    "start registers a new installation (insert one, e.g. \"Insert Into Settings (name, zip) "
    "Values (N'Site', N'00000')\")";

// Resolves and connects to the central server within `timeout`; "" when the
// port answered, else what went wrong.
std::string ProbeCentral(const std::string& host, const std::string& port, bool& resolved) {
  asio::io_context io;
  asio::ip::tcp::resolver resolver(io);
  std::error_code ec;
  const auto endpoints = resolver.resolve(host, port, ec);
  resolved = !ec;
  if (ec) return ec.message();
  asio::ip::tcp::socket socket(io);
  std::error_code result = asio::error::timed_out;
  asio::async_connect(
      socket, endpoints,
      [&](const std::error_code& e, const asio::ip::tcp::endpoint&) { result = e; });
  io.run_for(std::chrono::seconds(5));
  return result ? result.message() : std::string();
}

}  // namespace

void JournalSettings(common::Journal& journal, const settings::RegistryStore& store) {
  const settings::SettingsCheck check = settings::CheckSettings(store);
  std::string values;
  for (const auto& [name, value] : check.values) {
    values += (values.empty() ? "" : ", ") + name + "=" + value;
  }
  journal.Write(common::Priority::Info, "settings read from " + check.source + ": " + values);
  for (const std::string& w : check.warnings) journal.Write(common::Priority::Warning, w);
}

void JournalLocalTables(common::Journal& journal, db::Connection& local) {
  const TableFindings f = FindTables(local);
  if (!f.missing.empty()) {
    std::string names;
    for (const std::string& t : f.missing) names += (names.empty() ? "" : ", ") + t;
    journal.Write(common::Priority::Warning, "the local database lacks the tables " + names +
                                                 " (sql/local_portavento.sql makes them)");
  }
  if (f.settingsRows == 0) journal.Write(common::Priority::Warning, kSettingsRowHint);
}

int RunCheck(const platform::Paths& paths, std::ostream& out) {
  bool all = true;
  auto line = [&](bool ok, const std::string& what, const std::string& text) {
    all = all && ok;
    out << (ok ? "OK   " : "FAIL ") << what << ": " << text << "\n";
  };

  asio::io_context io;
  ServiceHost host(io, paths);
  const settings::SettingsCheck settings = settings::CheckSettings(host.store());
  std::string values;
  for (const auto& [name, value] : settings.values) {
    values += (values.empty() ? "" : ", ") + name + "=" + value;
  }
  line(true, "settings", "read from " + settings.source + ": " + values);
  for (const std::string& w : settings.warnings) line(false, "settings", w);

  const settings::ServiceSettings s = settings::ServiceSettings::Read(host.store());
  const db::LocalLogin login = host.ReadLocalLogin();
  const std::string where =
      "login " + s.sqlUID + " on " + db::kLocalServer + "," + s.sqlPort + ", database " +
      db::kLocalDatabase + " (" + s.sqlDriver +
      (s.embedded() ? ", data root " + platform::Utf8FromPath(host.Engine().embeddedRoot) : "") +
      ")";
  std::unique_ptr<db::Connection> local;
  try {
    if (!login.passwordError.empty()) throw std::runtime_error(login.passwordError);
    const db::EngineOptions engine = host.Engine();
    local = db::OpenConnection([&engine] { return db::CreateConnection(engine); },
                               db::LocalConnectionParams(login));
    line(true, "local database", where);
  } catch (const std::exception& e) {
    line(false, "local database",
         where + ": " + e.what() +
             (s.embedded() ? " (hint: make the instance and database with pvsql, see \"Running a "
                             "site\"; the password is sqlPWD or sqlPWDq)"
                           : " (hint: check sqlUID, sqlPWD and sqlPort, and that the server takes "
                             "SQL logins over TCP)"));
  }
  if (local) {
    const TableFindings f = FindTables(*local);
    std::string missing;
    for (const std::string& t : f.missing) missing += (missing.empty() ? "" : ", ") + t;
    line(f.missing.empty(), "local tables",
         f.missing.empty() ? std::to_string(LocalTables().size()) + " tables present"
                           : "missing " + missing + " (hint: run sql/local_portavento.sql)");
    if (f.settingsRows >= 0) {
      line(f.settingsRows > 0, "Settings row",
           f.settingsRows > 0 ? std::to_string(f.settingsRows) + " row(s)" : kSettingsRowHint);
    }
    local->Close();
  }

  bool resolved = false;
  const std::string probe = ProbeCentral(s.centralHost, s.centralPort, resolved);
  line(resolved, "central host",
       s.centralHost + (resolved
                            ? " resolves"
                            : ": " + probe + " (hint: check centralHost and the name service)"));
  if (resolved) {
    line(probe.empty(), "central port",
         s.centralHost + ":" + s.centralPort +
             (probe.empty() ? " answers"
                            : ": " + probe +
                                  " (hint: check centralPort and the firewall; is the central "
                                  "server running?)"));
  }
  out << (all ? "all checks passed\n" : "some checks failed\n");
  return all ? 0 : 1;
}

}  // namespace pv::service
