// The service host: the one object that owns everything the running service
// keeps — the event loop it runs on, the four timers, the server link, the
// installation id, the central connection data, the local and central
// connections, the daily log, the settings store and the paths. Every handler
// (timer tick, socket readiness, dispatched message, signal) runs on the
// loop's one thread.
//
// One message's path: the link session hands each complete message to
// Dispatch; the dispatcher calls back the ReplyTarget side of the host, which
// runs the job ("DATR": the full upload, "UPDA": one central change) with the
// host as the job's JobHost; the job works on the two connections.
#pragma once

#include <asio/io_context.hpp>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "common/daily_log.h"
#include "db/connection.h"
#include "db/connections/central_connection.h"
#include "db/connections/local_connection.h"
#include "link/dispatcher.h"
#include "link/link_session.h"
#include "platform/paths.h"
#include "platform/timer.h"
#include "service/site_monitor.h"
#include "settings/registry_store.h"
#include "sync/job_host.h"
#include "sync/update_queue.h"

namespace pv::service {

struct HostIntervals {
  std::chrono::milliseconds startLoad{2000};       // service start -> StartRemote
  std::chrono::milliseconds sqlConnection{60000};  // local-database supervision
  std::chrono::milliseconds socket{60000};         // link supervision and keepalive
  std::chrono::milliseconds updateQueue{3000};     // update-queue upload
};

class ServiceHost : private link::ReplyTarget, public sync::JobHost {
 public:
  ServiceHost(asio::io_context& io, platform::Paths paths, HostIntervals intervals = {});
  ~ServiceHost() override;
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // --- Start and shutdown ---
  // Prepares the application folders, opens the local database and, only if
  // that worked, the link; enables the local-database supervision; logs
  // "Remote Started".
  void StartRemote();
  // Closes the link (supervision and update queue stopped), stops the
  // local-database supervision, closes the local connection, logs "Remote
  // Shutdown". Every step runs even when an earlier one failed.
  void ShutdownRemote();
  // The service manager has started the service: StartRemote follows after
  // the start delay (startLoadTimer, one tick).
  void ServiceStarted();
  // One local-database supervision tick: probe, reopen, and couple the link
  // (reopened: ConnectLink; still unavailable: DisconnectLink(true)).
  void SuperviseLocalDatabase();

  // --- What the host keeps ---
  asio::io_context& io() { return io_; }
  const platform::Paths& paths() const { return paths_; }
  const settings::RegistryStore& store() const { return store_; }
  // The application folder (ending in '/'), set by StartRemote.
  const std::string& appFolder() const { return log_.appFolder(); }
  const common::DailyLog& log() const { return log_; }
  // A job's message to the central server, queued on the link.
  void SendToCentral(const std::string& text) override { SendMessage(text); }
  // One line of the daily log (also the jobs' log); it is also kept for the
  // journal line that reports the failure it describes.
  void WriteLog(const std::string& message, long number = 0,
                const std::string& detail = {}) override;
  // What the operator sees: the journal and the status file.
  SiteMonitor& monitor() { return monitor_; }

  link::LinkSession& link() { return link_; }
  // Queues one message on the link.
  void SendMessage(const std::string& text) override;

  db::LocalConnection& local() { return local_; }
  // The local login as the settings give it now (user, decoded password,
  // port).
  db::LocalLogin ReadLocalLogin() const;
  db::CentralConnectionSettings& centralSettings() { return centralSettings_; }

  // --- sync::JobHost: what the jobs work with ---
  db::Connection* LocalConnection() override { return local_.open(); }
  db::CentralConnection& Central() override { return central_; }
  bool OpenCentral() override { return central_.OpenCentralConnection(centralSettings_); }
  std::string HomeDatabase() const override { return centralSettings_.homeDatabase; }
  std::string InstallationId() const override { return installationId_; }
  std::filesystem::path AppFolder() const override;
  std::string LocalPassword() const override { return ReadLocalLogin().password; }
  bool UpdateQueueActive() const override { return tmrUpdateQueue_.enabled(); }
  bool StopRequested() const override { return stopRequested_; }
  int UploadBatchRows() const override;
  void DrainEnded(long sent, long failed) override;
  // Marks the service as stopping; safe from any thread (a signal listener,
  // the service manager's thread) while a job runs on the loop.
  void RequestStop() { stopRequested_ = true; }

  platform::Timer& startLoadTimer() { return startLoadTimer_; }
  platform::Timer& tmrSQLConnection() { return tmrSQLConnection_; }
  platform::Timer& socketTimer() { return link_.socketTimer(); }
  platform::Timer& tmrUpdateQueue() { return tmrUpdateQueue_; }

  bool runningAsNTService = false;

  // The engine every connection of the service uses: the "sqlDriver" setting,
  // embedded instances under the local application-data folder + "sql", the
  // ODBC time-outs of "sqlLoginTimeout" and "sqlCommandTimeout".
  db::EngineOptions Engine() const;

  // Hands one inbound message to the dispatcher (what the link does for each
  // complete message).
  void Dispatch(const std::string& message) { link::DispatchReply(message, *this); }

 protected:
  // ReplyTarget: what the dispatcher calls for each order.
  Identity LoadIdentity() override;
  void StoreIdentity(const std::string& key) override;
  void InstallationConfirmed(const std::string& installationId) override;
  void CentralConnectionData(const std::string& argument) override;
  void FullUploadRequested() override;
  void CentralChange(const std::string& argument) override;

 private:
  // Reads the local queue's depth and first row for the status.
  void RefreshQueue();
  // The last daily-log line written since the previous call ("" when none),
  // as one text: the reason a job or the database gave for a failure.
  std::string TakeLastLog();

  asio::io_context& io_;
  platform::Paths paths_;
  settings::RegistryStore store_;
  common::DailyLog log_;
  std::string lastLog_;
  SiteMonitor monitor_;
  platform::Timer startLoadTimer_;
  platform::Timer tmrSQLConnection_;
  platform::Timer tmrUpdateQueue_;
  db::LocalConnection local_;
  db::CentralConnection central_;
  db::CentralConnectionSettings centralSettings_;
  std::string installationId_;
  link::LinkSession link_;
  // The update queue's drain; each tick of tmrUpdateQueue starts one.
  std::shared_ptr<sync::UpdateQueueDrain> drain_;
  std::atomic<bool> stopRequested_{false};
};

}  // namespace pv::service
