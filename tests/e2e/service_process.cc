#include "tests/e2e/service_process.h"

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "tests/e2e/central_sim.h"
#include "tests/e2e/programs.h"
#include "tests/support/wait.h"

namespace pv::e2e {

void WriteSiteSettings(const TempRoot& root, const SqlInstance& local, unsigned short centralPort,
                       const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> settings{
      {"sqlDriver", "embedded"},    {"sqlUID", local.user},
      {"sqlPWD", local.password},   {"sqlPort", local.port},
      {"centralHost", "127.0.0.1"}, {"centralPort", std::to_string(centralPort)},
  };
  for (const auto& [name, value] : extra) settings[name] = value;
  std::erase_if(settings, [](const auto& entry) { return entry.second.empty(); });
  WriteSettings(root.MachineStore(), settings);
}

std::string ConversationLogs(const CentralSim& sim, const ServiceProcess& service) {
  return "\n--- pvcentral log ---\n" + sim.LogText() + "--- pvremote output ---\n" +
         service.Output() + "--- pvremote log ---\n" + service.LogText();
}

ServiceProcess::ServiceProcess(const TempRoot& root, unsigned short centralPort, Config config)
    : logFolder_(root.ServiceFolder()) {
  WriteSiteSettings(root, config.local, centralPort, config.settings);
  std::map<std::string, std::string> env{{"PVREMOTE_ROOT", root.path().string()},
                                         {"PVREMOTE_DEBUG", "1"},
                                         // Never mistaken for a start by systemd.
                                         {"INVOCATION_ID", ""},
                                         {"NOTIFY_SOCKET", ""}};
  for (const auto& [name, value] : config.env) env[name] = value;
  std::filesystem::create_directories(root.path() / "service");
  process_ = std::make_unique<Process>(PvremoteProgram(), std::vector<std::string>{}, env,
                                       root.path() / "service/output.txt");
}

ServiceProcess::~ServiceProcess() {
  if (process_) process_->Stop();
}

std::string ServiceProcess::LogText() const {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(logFolder_, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("Log ", 0) == 0 && e.path().extension() == ".txt") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
    std::error_code e1, e2;
    return std::filesystem::last_write_time(a, e1) < std::filesystem::last_write_time(b, e2);
  });
  std::ostringstream text;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    text << in.rdbuf();
  }
  return text.str();
}

bool ServiceProcess::WaitLog(const std::string& text, std::chrono::milliseconds timeout) const {
  return WaitUntil([&] { return LogText().find(text) != std::string::npos; }, timeout,
                   std::chrono::milliseconds(25));
}

std::optional<int> ServiceProcess::Interrupt(std::chrono::milliseconds timeout) {
  process_->Signal(SIGINT);
  return process_->WaitExit(timeout);
}

}  // namespace pv::e2e
