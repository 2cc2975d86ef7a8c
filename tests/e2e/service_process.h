// A running pvremote for a test: a debug run (PVREMOTE_DEBUG=1) under the
// test's PVREMOTE_ROOT, with settings that select the embedded engine, the
// local instance and the central simulator's port. The environment given in
// its configuration can make it a run under systemd instead.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "tests/e2e/process.h"
#include "tests/e2e/sql_site.h"
#include "tests/e2e/temp_root.h"

namespace pv::e2e {

using namespace std::chrono_literals;

// Writes the machine settings a service of this site reads: the embedded
// engine, the local login and port, the central server on loopback at
// `centralPort`; `extra` is laid over them (an empty value leaves one out).
void WriteSiteSettings(const TempRoot& root, const SqlInstance& local, unsigned short centralPort,
                       const std::map<std::string, std::string>& extra = {});

class CentralSim;
class ServiceProcess;

// Both programs' logs and the service's output, for a failure message.
std::string ConversationLogs(const CentralSim& sim, const ServiceProcess& service);

struct ServiceConfig {
  SqlInstance local;
  // Settings laid over those of WriteSiteSettings.
  std::map<std::string, std::string> settings;
  // Extra environment for the process.
  std::map<std::string, std::string> env;
};

class ServiceProcess {
 public:
  using Config = ServiceConfig;

  // Writes the machine settings and starts the service.
  ServiceProcess(const TempRoot& root, unsigned short centralPort, Config config = {});
  explicit ServiceProcess(const TempRoot& root, unsigned short centralPort,
                          const SqlInstance& local)
      : ServiceProcess(root, centralPort, Config{local, {}, {}}) {}
  ~ServiceProcess();

  Process& process() { return *process_; }
  // The service's daily log files, oldest first, as one text.
  std::string LogText() const;
  bool WaitLog(const std::string& text, std::chrono::milliseconds timeout) const;
  // Ctrl+C of a debug run; returns the exit code (nothing when it did not end).
  std::optional<int> Interrupt(std::chrono::milliseconds timeout = 10s);
  int Stop() { return process_->Stop(); }
  std::string Output() const { return process_->Output(); }

 private:
  std::filesystem::path logFolder_;
  std::unique_ptr<Process> process_;
};

}  // namespace pv::e2e
