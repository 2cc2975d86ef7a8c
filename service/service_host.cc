#include "service/service_host.h"

#include <utility>

#include "common/text.h"
#include "db/connections/installation.h"
#include "db/error.h"
#include "platform/utf8_paths.h"
#include "service/site_check.h"
#include "settings/app_folders.h"
#include "settings/service_settings.h"
#include "sync/central_changes.h"
#include "sync/full_upload.h"

namespace pv::service {

namespace {

link::LinkHooks MakeLinkHooks(ServiceHost& host, platform::Timer& updateQueue,
                              const common::DailyLog& log, SiteMonitor& monitor) {
  link::LinkHooks hooks;
  hooks.onLinkState = [&monitor](bool up, const std::string& reason) {
    if (up) {
      monitor.LinkUp();
    } else {
      monitor.LinkDown(reason);
    }
  };
  hooks.onMessage = [&host](const std::string& message) { host.Dispatch(message); };
  hooks.onStopUpdateQueue = [&updateQueue] { updateQueue.Disable(); };
  hooks.log = [&log](const std::string& message, long number, const std::string& detail) {
    log.WriteLog(message, number, detail);
  };
  return hooks;
}

}  // namespace

ServiceHost::ServiceHost(asio::io_context& io, platform::Paths paths, HostIntervals intervals)
    : io_(io),
      paths_(std::move(paths)),
      store_(paths_),
      monitor_(io),
      startLoadTimer_(io, intervals.startLoad),
      tmrSQLConnection_(io, intervals.sqlConnection),
      tmrUpdateQueue_(io, intervals.updateQueue),
      local_([this] { return db::CreateConnection(Engine()); }, [this] { return ReadLocalLogin(); },
             [this](const std::string& message, long number, const std::string& detail) {
               WriteLog(message, number, detail);
             }),
      central_([this] { return db::CreateConnection(Engine()); }),
      link_(io, settings::ServiceSettings::Read(store_).centralHost,
            settings::ServiceSettings::Read(store_).centralPort,
            MakeLinkHooks(*this, tmrUpdateQueue_, log_, monitor_), intervals.socket) {
  startLoadTimer_.SetHandler([this] {
    startLoadTimer_.Disable();
    StartRemote();
  });
  tmrSQLConnection_.SetHandler([this] { SuperviseLocalDatabase(); });
  drain_ = std::make_shared<sync::UpdateQueueDrain>(io_, *this);
  tmrUpdateQueue_.SetHandler([this] { drain_->Tick(); });
}

ServiceHost::~ServiceHost() = default;

int ServiceHost::UploadBatchRows() const {
  return settings::ServiceSettings::Read(store_).uploadBatchRows;
}

db::EngineOptions ServiceHost::Engine() const {
  const auto s = settings::ServiceSettings::Read(store_);
  db::EngineOptions options;
  options.driver = s.sqlDriver;
  options.loginTimeoutSeconds = s.sqlLoginTimeout;
  options.commandTimeoutSeconds = s.sqlCommandTimeout;
  std::string base = paths_.LocalAppDataFolder();
  if (base.empty()) base = platform::ProgramFolder();
  options.embeddedRoot = platform::PathFromUtf8(base + "sql");
  return options;
}

db::LocalLogin ServiceHost::ReadLocalLogin() const {
  const auto s = settings::ServiceSettings::Read(store_);
  db::LocalLogin login;
  login.user = s.sqlUID;
  login.port = s.sqlPort;
  if (s.sqlPassword) {
    login.password = *s.sqlPassword;
  } else {
    login.passwordError = "Type mismatch: the setting \"sqlPWDq\" does not decode";
  }
  return login;
}

std::filesystem::path ServiceHost::AppFolder() const {
  return platform::PathFromUtf8(log_.appFolder());
}

void ServiceHost::SendMessage(const std::string& text) { link_.SendMessage(text, false, false); }

void ServiceHost::WriteLog(const std::string& message, long number, const std::string& detail) {
  log_.WriteLog(message, number, detail);
  lastLog_ = message;
  if (number != 0) lastLog_ += " - " + std::to_string(number);
  if (!detail.empty()) lastLog_ += " - " + detail;
}

std::string ServiceHost::TakeLastLog() { return std::exchange(lastLog_, {}); }

void ServiceHost::RefreshQueue() {
  db::Connection* local = local_.open();
  if (local == nullptr) return;
  try {
    auto q = local->Query("Select Count(*), Min(id) From UpdateQueue");
    if (q->Next()) {
      const db::Value& first = q->Get(1);
      monitor_.Queue(static_cast<long>(q->Get(0).AsInteger()),
                     first.IsNull() ? 0 : first.AsInteger());
    }
    q->Close();
  } catch (const std::exception&) {
    // The status keeps the last depth read.
  }
}

void ServiceHost::DrainEnded(long sent, long failed) {
  RefreshQueue();
  monitor_.Drained(sent, failed, failed > 0 ? TakeLastLog() : std::string());
}

void ServiceHost::StartRemote() {
  try {
    log_.SetAppFolder(settings::PrepareAppFolders(paths_, store_));
    log_.SetKeepDays(settings::ServiceSettings::Read(store_).logKeepDays);
    // Settings files the store cannot use are logged from now on, the ones
    // found before the log had its folder included.
    store_.SetLog([this](const std::string& message, long number, const std::string& detail) {
      WriteLog(message, number, detail);
    });
    const auto settings = settings::ServiceSettings::Read(store_);
    monitor_.Start(paths_.LocalAppDataFolder(), settings.centralHost, settings.centralPort,
                   [this] { RefreshQueue(); });
    JournalSettings(monitor_.journal(), store_);
    TakeLastLog();
    const bool open = local_.Open_cn();
    monitor_.LocalDatabase(open, open ? std::string() : TakeLastLog());
    if (open) {
      JournalLocalTables(monitor_.journal(), *local_.open());
      RefreshQueue();
      link_.ConnectLink();
    }
    tmrSQLConnection_.Enable();
    WriteLog("Remote Started");
  } catch (...) {
    tmrSQLConnection_.Enable();
  }
}

void ServiceHost::ShutdownRemote() {
  try {
    link_.DisconnectLink(true);
  } catch (...) {
  }
  try {
    tmrSQLConnection_.Disable();
  } catch (...) {
  }
  try {
    local_.Close_cn();
  } catch (...) {
  }
  try {
    WriteLog("Remote Shutdown");
  } catch (...) {
  }
  try {
    monitor_.Stop();
  } catch (...) {
  }
}

void ServiceHost::ServiceStarted() {
  runningAsNTService = true;
  startLoadTimer_.Enable();
}

void ServiceHost::SuperviseLocalDatabase() {
  try {
    TakeLastLog();
    switch (local_.SuperviseLocalDatabase()) {
      case db::LocalConnection::Supervision::Open:
        break;
      case db::LocalConnection::Supervision::Reopened:
        monitor_.LocalDatabase(true, {});
        link_.ConnectLink();
        break;
      case db::LocalConnection::Supervision::Failed: {
        monitor_.LocalDatabase(false, TakeLastLog());
        const bool wasUp = link_.connected() || link_.connecting();
        link_.DisconnectLink(true);
        if (wasUp) monitor_.LinkDown("closed while the local database is unavailable");
        break;
      }
    }
  } catch (...) {
    // The next tick tries again.
  }
}

link::ReplyTarget::Identity ServiceHost::LoadIdentity() {
  db::Connection* local = local_.get();
  if (local == nullptr) throw db::NotOpenError("local database");
  const db::InstallationKey key = db::LoadInstallationID(*local);
  monitor_.Identified(key.isNew);
  return {key.key, key.isNew};
}

void ServiceHost::StoreIdentity(const std::string& key) {
  // Without a local connection the assigned key is not kept; the server
  // hands it over again at the next identification.
  if (db::Connection* local = local_.get()) {
    db::StoreInstallationID(*local, key);
    monitor_.KeyAssigned();
  }
}

void ServiceHost::InstallationConfirmed(const std::string& installationId) {
  installationId_ = installationId;
  monitor_.InstallationConfirmed(installationId);
  tmrUpdateQueue_.Enable();
}

void ServiceHost::CentralConnectionData(const std::string& argument) {
  // The data are tried on a connection of their own, so that a refusal can
  // say why; the central connection is left closed either way.
  db::ReadCentralConnectionData(argument, centralSettings_);
  central_.CloseCentralConnection();
  std::string reason;
  try {
    auto probe = db::OpenConnection([this] { return db::CreateConnection(Engine()); },
                                    db::CentralConnectionParams(centralSettings_));
    probe->Close();
  } catch (const std::exception& e) {
    reason = e.what();
    if (reason.empty()) reason = "the login failed";
  } catch (...) {
    reason = "the login failed";
  }
  const std::string server = centralSettings_.server + "," + centralSettings_.port;
  monitor_.CentralData(reason.empty(), server, centralSettings_.homeDatabase, reason);
  if (reason.empty()) SendMessage("DBCN");
}

void ServiceHost::FullUploadRequested() {
  monitor_.FullUploadStarted();
  TakeLastLog();
  const auto started = std::chrono::steady_clock::now();
  sync::FullUploadCounts counts;
  const sync::FullUploadResult result = sync::TransferDataToCX(*this, &counts);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const char* outcome = "completed";
  switch (result) {
    case sync::FullUploadResult::Completed:
      break;
    case sync::FullUploadResult::NotConnected:
      outcome = "not started";
      break;
    case sync::FullUploadResult::WrongDatabase:
      outcome = "failed";
      break;
    case sync::FullUploadResult::Failed:
      outcome = "failed";
      break;
    case sync::FullUploadResult::Stopped:
      outcome = "stopped";
      break;
  }
  std::string failure = TakeLastLog();
  if (result == sync::FullUploadResult::NotConnected)
    failure = "the central database cannot be opened";
  if (result == sync::FullUploadResult::WrongDatabase)
    failure = "the installation database is not current";
  if (result == sync::FullUploadResult::Completed) failure.clear();
  monitor_.FullUploadEnded(outcome, failure, counts, seconds);
}

void ServiceHost::CentralChange(const std::string& argument) {
  TakeLastLog();
  const sync::CentralChangeResult result = sync::TransferDataFromCX(*this, argument);
  // "9§42§TenantAccess§0": central queue row, record, kind, item.
  const std::vector<std::string> f = common::SplitFields(argument);
  auto field = [&f](std::size_t i) { return i < f.size() ? f[i] : std::string(); };
  const std::string change = field(2) + " for record " + field(1) + " (central queue row " +
                             field(0) + (field(3).empty() ? "" : ", item " + field(3)) + ")";
  switch (result) {
    case sync::CentralChangeResult::Applied:
      monitor_.CentralChange(change, true, {});
      break;
    case sync::CentralChangeResult::UnknownKind:
      monitor_.CentralChange(change, false, "unknown kind of change");
      break;
    case sync::CentralChangeResult::NotConnected:
      monitor_.CentralChange(change, false,
                             "the central database cannot be opened; kept for later");
      break;
    case sync::CentralChangeResult::Deferred:
      monitor_.CentralChange(change, false, TakeLastLog() + "; kept for later");
      break;
    case sync::CentralChangeResult::Failed:
      monitor_.CentralChange(change, false, TakeLastLog());
      break;
  }
}

}  // namespace pv::service
