// What an operator sees of the running service: each event of the site (the
// link, the identification, the central data, the full upload, the queue
// drains, the central changes, the local database) becomes a journal line
// and a change of the status file; under systemd the STATUS= line of the
// service manager is kept current as well. The status file is replaced
// atomically, at most once a second (a later event waits for the rest of the
// second), and refreshed every few seconds while the service runs.
#pragma once

#include <asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "common/journal.h"
#include "platform/timer.h"
#include "service/status.h"
#include "sync/full_upload.h"

namespace pv::service {

using UploadCounts = sync::FullUploadCounts;

class SiteMonitor {
 public:
  // `refresh` is called before each periodic write (the host reads the
  // queue's depth there).
  SiteMonitor(asio::io_context& io, common::Journal::Sink sink = {},
              std::chrono::milliseconds refreshEvery = std::chrono::seconds(15));

  // The service starts: the status file goes to `appDataFolder` from now on.
  void Start(const std::string& appDataFolder, const std::string& centralHost,
             const std::string& centralPort, std::function<void()> refresh);
  // The service stops: the link and the database are shown closed.
  void Stop();

  common::Journal& journal() { return journal_; }
  const StatusRecord& status() const { return status_; }

  void LinkUp();
  void LinkDown(const std::string& reason);
  void Identified(bool newKey);
  void KeyAssigned();
  void InstallationConfirmed(const std::string& installationId);
  void CentralData(bool accepted, const std::string& server, const std::string& database,
                   const std::string& reason);
  void FullUploadStarted();
  // `outcome`: "completed", "failed", "stopped", "not connected", ...
  void FullUploadEnded(const std::string& outcome, const std::string& failure,
                       const UploadCounts& counts, double seconds);
  // One drain that did something (sent or failed at least one change).
  void Drained(long sent, long failed, const std::string& lastFailure);
  void CentralChange(const std::string& change, bool applied, const std::string& failure);
  void LocalDatabase(bool open, const std::string& reason);
  // The local queue as last read: its depth and the id of its first row.
  void Queue(long depth, long long firstId);

 private:
  void Changed();
  void WriteNow(bool notify = true);
  void CountFailure(const std::string& text);

  common::Journal journal_;
  platform::Timer throttle_;
  platform::Timer refreshTimer_;
  std::function<void()> refresh_;
  StatusRecord status_;
  std::string file_;
  std::chrono::steady_clock::time_point lastWrite_{};
  bool written_ = false;
  // The first queue row seen and since when, for the age of the oldest row.
  long long firstId_ = 0;
  std::chrono::steady_clock::time_point firstSeen_{};
};

// Local time as the status shows it: "2026-12-07 14:05:09".
std::string StatusTime(std::time_t t);

}  // namespace pv::service
