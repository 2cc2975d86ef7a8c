#include "platform/service/service_control.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/service/unit_file.h"

extern char** environ;

namespace pv::platform {

namespace {

bool Offline() {
  const char* root = std::getenv("PVREMOTE_ROOT");
  return root != nullptr && *root != '\0';
}

}  // namespace

std::vector<std::string> SystemctlCommand() {
  std::vector<std::string> cmd;
  const char* program = std::getenv("PVREMOTE_SYSTEMCTL");
  cmd.push_back(program != nullptr && *program != '\0' ? program : "systemctl");
  if (Offline()) cmd.push_back(std::string("--root=") + std::getenv("PVREMOTE_ROOT"));
  return cmd;
}

int RunSystemctl(const std::vector<std::string>& args) {
  std::vector<std::string> all = SystemctlCommand();
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(all.size() + 1);
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return -1;
}

bool InstallService() {
  const auto exe = OwnExecutable();
  if (exe.empty() || !WriteUnitFile(exe)) return false;
  // A manager that already knew an older unit file must read the new one;
  // there is no manager to reload when working below PVREMOTE_ROOT.
  if (!Offline()) RunSystemctl({"daemon-reload"});
  return RunSystemctl({"enable", kUnitName}) == 0;
}

void UninstallService() {
  if (Offline()) {
    RunSystemctl({"disable", kUnitName});
  } else {
    RunSystemctl({"disable", "--now", "--no-block", kUnitName});
  }
  RemoveUnitFile();
  if (!Offline()) RunSystemctl({"daemon-reload"});
}

void StartService() { RunSystemctl({"start", "--no-block", kUnitName}); }

void StopService() { RunSystemctl({"stop", "--no-block", kUnitName}); }

bool ServiceRunning() { return RunSystemctl({"is-active", "--quiet", kUnitName}) == 0; }

void RestartService() { RunSystemctl({"restart", "--no-block", kUnitName}); }

}  // namespace pv::platform
