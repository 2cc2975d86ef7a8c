#include "service/service_host.h"

#include "db/connections/installation.h"
#include "db/error.h"
#include "platform/utf8_paths.h"
#include "settings/app_folders.h"
#include "settings/service_settings.h"
#include "sync/central_changes.h"
#include "sync/full_upload.h"

namespace pv::service {

namespace {

link::LinkHooks MakeLinkHooks(ServiceHost& host, platform::Timer& updateQueue,
                              const common::DailyLog& log) {
  link::LinkHooks hooks;
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
            MakeLinkHooks(*this, tmrUpdateQueue_, log_), intervals.socket) {
  startLoadTimer_.SetHandler([this] {
    startLoadTimer_.Disable();
    StartRemote();
  });
  tmrSQLConnection_.SetHandler([this] { SuperviseLocalDatabase(); });
  drain_ = std::make_shared<sync::UpdateQueueDrain>(io_, *this);
  tmrUpdateQueue_.SetHandler([this] { drain_->Tick(); });
}

ServiceHost::~ServiceHost() = default;

db::EngineOptions ServiceHost::Engine() const {
  db::EngineOptions options;
  options.driver = settings::ServiceSettings::Read(store_).sqlDriver;
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

void ServiceHost::StartRemote() {
  try {
    log_.SetAppFolder(settings::PrepareAppFolders(paths_, store_));
    log_.SetKeepDays(settings::ServiceSettings::Read(store_).logKeepDays);
    // Settings files the store cannot use are logged from now on, the ones
    // found before the log had its folder included.
    store_.SetLog([this](const std::string& message, long number, const std::string& detail) {
      WriteLog(message, number, detail);
    });
    if (local_.Open_cn()) link_.ConnectLink();
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
}

void ServiceHost::ServiceStarted() {
  runningAsNTService = true;
  startLoadTimer_.Enable();
}

void ServiceHost::SuperviseLocalDatabase() {
  try {
    switch (local_.SuperviseLocalDatabase()) {
      case db::LocalConnection::Supervision::Open:
        break;
      case db::LocalConnection::Supervision::Reopened:
        link_.ConnectLink();
        break;
      case db::LocalConnection::Supervision::Failed:
        link_.DisconnectLink(true);
        break;
    }
  } catch (...) {
    // The next tick tries again.
  }
}

link::ReplyTarget::Identity ServiceHost::LoadIdentity() {
  db::Connection* local = local_.get();
  if (local == nullptr) throw db::NotOpenError("local database");
  const db::InstallationKey key = db::LoadInstallationID(*local);
  return {key.key, key.isNew};
}

void ServiceHost::StoreIdentity(const std::string& key) {
  // Without a local connection the assigned key is not kept; the server
  // hands it over again at the next identification.
  if (db::Connection* local = local_.get()) db::StoreInstallationID(*local, key);
}

void ServiceHost::InstallationConfirmed(const std::string& installationId) {
  installationId_ = installationId;
  tmrUpdateQueue_.Enable();
}

void ServiceHost::CentralConnectionData(const std::string& argument) {
  if (db::HandleCentralConnectionData(argument, centralSettings_, central_)) {
    SendMessage("DBCN");
  }
}

void ServiceHost::FullUploadRequested() { sync::TransferDataToCX(*this); }

void ServiceHost::CentralChange(const std::string& argument) {
  sync::TransferDataFromCX(*this, argument);
}

}  // namespace pv::service
