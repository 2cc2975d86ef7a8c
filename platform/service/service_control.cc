#include "platform/service/service_control.h"

#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "platform/service/unit_file.h"

extern char** environ;

namespace pv::platform {

namespace {

bool Offline() {
  const char* root = std::getenv("PVREMOTE_ROOT");
  return root != nullptr && *root != '\0';
}

// A service that runs as its own user must be able to rewrite the machine
// settings file, which "/i" may just have written as root: the folder and the
// file are handed to that user (best effort; the unit says what the service
// may write, the owner whether it can).
void HandSettingsToServiceUser(const std::string& user) {
  const passwd* pw = getpwnam(user.c_str());
  if (pw == nullptr) return;
  const std::filesystem::path store = Paths::FromEnvironment().MachineStore();
  std::error_code ec;
  std::filesystem::create_directories(store.parent_path(), ec);
  for (const auto& path : {store.parent_path(), store}) {
    if (std::filesystem::exists(path, ec)) {
      (void)!chown(path.c_str(), pw->pw_uid, pw->pw_gid);
    }
  }
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
  if (!Offline()) {
    const std::string user = ServiceUserIfPresent();
    if (!user.empty()) HandSettingsToServiceUser(user);
  }
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
