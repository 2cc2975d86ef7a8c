#include "service/site_monitor.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "common/version.h"
#include "platform/file_writes.h"
#include "platform/local_time.h"
#include "platform/service/notify.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#endif

namespace pv::service {

namespace {

std::time_t Now() { return std::time(nullptr); }

}  // namespace

std::string StatusTime(std::time_t t) {
  const std::tm tm = platform::LocalTime(t);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

SiteMonitor::SiteMonitor(asio::io_context& io, common::Journal::Sink sink,
                         std::chrono::milliseconds refreshEvery)
    : journal_(std::move(sink)),
      throttle_(io, std::chrono::seconds(1)),
      refreshTimer_(io, refreshEvery) {
  throttle_.SetHandler([this] {
    throttle_.Disable();
    WriteNow();
  });
  refreshTimer_.SetHandler([this] {
    if (refresh_) refresh_();
    WriteNow();
  });
  status_.Set("version", common::VersionText());
  status_.SetNumber("pid", static_cast<long long>(getpid()));
  status_.Set("started", StatusTime(Now()));
  for (const char* name :
       {"updated", "link", "linkSince", "linkReason", "centralHost", "centralPort",
        "installationId", "identified", "identifiedWith", "dbin", "dbinTime", "dbinServer",
        "dbinDatabase", "fullUploadStart", "fullUploadEnd", "fullUploadOutcome"}) {
    status_.Set(name, "");
  }
  status_.SetNumber("queueDepth", 0);
  status_.SetNumber("queueOldestSeconds", 0);
  status_.Set("lastDrain", "");
  status_.SetNumber("failedChanges", 0);
  status_.Set("lastFailure", "");
  status_.Set("localDatabase", "closed");
  status_.Set("localDatabaseReason", "");
  status_.Set("link", "down");
}

void SiteMonitor::Start(const std::string& appDataFolder, const std::string& centralHost,
                        const std::string& centralPort, std::function<void()> refresh) {
  file_ = appDataFolder.empty() ? std::string() : appDataFolder + kStatusFileName;
  refresh_ = std::move(refresh);
  status_.Set("centralHost", centralHost);
  status_.Set("centralPort", centralPort);
  status_.Set("linkSince", StatusTime(Now()));
  journal_.Write(common::Priority::Notice, "pvremote " + common::VersionText() + " started (pid " +
                                               status_.Get("pid") + "), central server " +
                                               centralHost + ":" + centralPort);
  refreshTimer_.Enable();
  Changed();
}

void SiteMonitor::Stop() {
  refreshTimer_.Disable();
  throttle_.Disable();
  if (status_.Get("link") == "up") status_.Set("linkSince", StatusTime(Now()));
  status_.Set("link", "down");
  status_.Set("linkReason", "the service stopped");
  status_.Set("localDatabase", "closed");
  journal_.Write(common::Priority::Notice, "pvremote stopped");
  // The service manager has been told that the service stops: no STATUS= after it.
  WriteNow(false);
}

void SiteMonitor::Changed() {
  const auto now = std::chrono::steady_clock::now();
  if (!written_ || now - lastWrite_ >= std::chrono::seconds(1)) {
    throttle_.Disable();
    WriteNow();
  } else if (!throttle_.enabled()) {
    throttle_.Enable();
  }
}

void SiteMonitor::WriteNow(bool notify) {
  lastWrite_ = std::chrono::steady_clock::now();
  written_ = true;
  if (status_.Number("queueDepth") > 0 && firstId_ != 0) {
    status_.SetNumber(
        "queueOldestSeconds",
        std::chrono::duration_cast<std::chrono::seconds>(lastWrite_ - firstSeen_).count());
  } else {
    status_.SetNumber("queueOldestSeconds", 0);
  }
  const std::time_t now = Now();
  status_.Set("updated", StatusTime(now));
  status_.SetNumber("updatedEpoch", static_cast<long long>(now));
  // Private like the daily log: a failure's text may name a resident.
  if (!file_.empty()) platform::ReplaceFileAtomically(file_, status_.ToJson(), 0600, false);
  std::string line = "link " + status_.Get("link");
  if (!status_.Get("linkSince").empty()) line += " since " + status_.Get("linkSince").substr(11, 5);
  line +=
      ", installation " +
      (status_.Get("installationId").empty() ? std::string("none") : status_.Get("installationId"));
  line += ", queue " + std::to_string(status_.Number("queueDepth"));
  if (!status_.Get("fullUploadEnd").empty()) {
    line += ", last full upload " + status_.Get("fullUploadEnd").substr(11, 5) + " " +
            status_.Get("fullUploadOutcome").substr(0, status_.Get("fullUploadOutcome").find(' '));
  }
  if (status_.Get("localDatabase") != "open")
    line += ", local database " + status_.Get("localDatabase");
  if (notify) platform::NotifyServiceManager("STATUS=" + line);
}

void SiteMonitor::LinkUp() {
  if (status_.Get("link") == "up") return;
  const std::string text =
      "link up: connected to " + status_.Get("centralHost") + ":" + status_.Get("centralPort");
  if (!journal_.Recovered("link", common::Priority::Notice, text)) {
    journal_.Write(common::Priority::Notice, text);
  }
  status_.Set("link", "up");
  status_.Set("linkSince", StatusTime(Now()));
  status_.Set("linkReason", "");
  Changed();
}

void SiteMonitor::LinkDown(const std::string& reason) {
  journal_.Failure("link", common::Priority::Warning, "link down: " + reason);
  if (status_.Get("link") == "up") status_.Set("linkSince", StatusTime(Now()));
  status_.Set("link", "down");
  status_.Set("linkReason", reason);
  Changed();
}

void SiteMonitor::Identified(bool newKey) {
  journal_.Write(common::Priority::Info,
                 newKey ? "identification: no key stored yet, a new key offered (NWID)"
                        : "identification with the stored key (PVID)");
  status_.Set("identified", StatusTime(Now()));
  status_.Set("identifiedWith", newKey ? "a new key" : "the stored key");
  Changed();
}

void SiteMonitor::KeyAssigned() {
  journal_.Write(common::Priority::Notice,
                 "identification: key assigned by the central server (INID), stored");
}

void SiteMonitor::InstallationConfirmed(const std::string& installationId) {
  journal_.Write(common::Priority::Notice,
                 "installation id " + installationId + " confirmed (VDID)");
  status_.Set("installationId", installationId);
  Changed();
}

void SiteMonitor::CentralData(bool accepted, const std::string& server, const std::string& database,
                              const std::string& reason) {
  const std::string where = "server " + server + ", database " + database;
  if (accepted) {
    const std::string text = "DBIN accepted: " + where;
    if (!journal_.Recovered("dbin", common::Priority::Notice, text)) {
      journal_.Write(common::Priority::Notice, text);
    }
  } else {
    journal_.Failure("dbin", common::Priority::Error,
                     "DBIN refused: " + where + (reason.empty() ? "" : ": " + reason));
  }
  status_.Set("dbin", accepted ? "accepted" : "refused");
  status_.Set("dbinTime", StatusTime(Now()));
  status_.Set("dbinServer", server);
  status_.Set("dbinDatabase", database);
  Changed();
}

void SiteMonitor::FullUploadStarted() {
  journal_.Write(common::Priority::Notice, "full upload started (DATR)");
  status_.Set("fullUploadStart", StatusTime(Now()));
  status_.Set("fullUploadEnd", "");
  status_.Set("fullUploadOutcome", "running");
  Changed();
}

void SiteMonitor::FullUploadEnded(const std::string& outcome, const std::string& failure,
                                  const UploadCounts& counts, double seconds) {
  char took[32];
  std::snprintf(took, sizeof took, "%.1f s", seconds);
  std::string text = "full upload " + outcome + " after " + took;
  if (outcome == "completed") {
    std::string rows;
    for (const auto& [table, n] : counts.rows) {
      rows += (rows.empty() ? "" : ", ") + table + " " + std::to_string(n);
    }
    text += ": " + (rows.empty() ? std::string("no rows") : rows) + "; photos " +
            std::to_string(counts.photos);
    journal_.Write(common::Priority::Notice, text);
  } else {
    if (!failure.empty()) text += ": " + failure;
    journal_.Write(common::Priority::Error, text);
  }
  status_.Set("fullUploadEnd", StatusTime(Now()));
  status_.Set("fullUploadOutcome", outcome + (failure.empty() ? "" : ": " + failure));
  Changed();
}

void SiteMonitor::CountFailure(const std::string& text) {
  status_.SetNumber("failedChanges", status_.Number("failedChanges") + 1);
  status_.Set("lastFailure", StatusTime(Now()) + " " + text);
}

void SiteMonitor::Drained(long sent, long failed, const std::string& lastFailure) {
  const std::string text = "update queue drained: " + std::to_string(sent) + " sent, " +
                           std::to_string(failed) + " failed, " +
                           std::to_string(status_.Number("queueDepth")) + " left";
  journal_.Write(
      failed > 0 ? common::Priority::Warning : common::Priority::Info,
      text + (failed > 0 && !lastFailure.empty() ? " (last failure: " + lastFailure + ")" : ""));
  for (long i = 0; i < failed; ++i) CountFailure(lastFailure);
  status_.Set("lastDrain", StatusTime(Now()) + ": " + text.substr(22));
  Changed();
}

void SiteMonitor::CentralChange(const std::string& change, bool applied,
                                const std::string& failure) {
  if (applied) {
    const std::string text = "central change applied: " + change;
    if (!journal_.Recovered("central change", common::Priority::Info, text)) {
      journal_.Write(common::Priority::Info, text);
    }
  } else {
    const std::string text =
        "central change failed: " + change + (failure.empty() ? "" : ": " + failure);
    journal_.Failure("central change", common::Priority::Error, text);
    CountFailure(text);
  }
  Changed();
}

void SiteMonitor::LocalDatabase(bool open, const std::string& reason) {
  if (open) {
    if (status_.Get("localDatabase") == "open") return;
    if (!journal_.Recovered("local database", common::Priority::Notice,
                            "local database back: open")) {
      journal_.Write(common::Priority::Info, "local database open");
    }
    status_.Set("localDatabase", "open");
    status_.Set("localDatabaseReason", "");
  } else {
    journal_.Failure("local database", common::Priority::Error,
                     "local database lost" + (reason.empty() ? std::string() : ": " + reason));
    status_.Set("localDatabase", "unavailable");
    status_.Set("localDatabaseReason", reason);
  }
  Changed();
}

void SiteMonitor::Queue(long depth, long long firstId) {
  if (depth <= 0) {
    firstId_ = 0;
  } else if (firstId != firstId_) {
    firstId_ = firstId;
    firstSeen_ = std::chrono::steady_clock::now();
  }
  status_.SetNumber("queueDepth", depth);
}

}  // namespace pv::service
