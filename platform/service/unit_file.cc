#include "platform/service/unit_file.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "platform/file_writes.h"

namespace pv::platform {

namespace {

// ExecStart takes a path with blanks only when it is quoted; systemd's
// quoting understands C-style escapes inside double quotes.
std::string QuoteExecPath(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '%') {
      out += "%%";  // systemd specifier escape
      continue;
    }
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

std::string UnitText(const std::filesystem::path& executable, const std::string& user) {
  std::string text = std::string("[Unit]\n") + "Description=" + kDisplayName + "\n";
  text +=
      "Wants=network-online.target\n"
      "After=network-online.target\n"
      "\n"
      "[Service]\n"
      "Type=notify\n"
      "NotifyAccess=main\n"
      "ExecStart=" +
      QuoteExecPath(executable.string()) +
      "\n"
      "Restart=on-failure\n"
      "RestartSec=5\n"
      "TimeoutStopSec=60\n";
  if (!user.empty()) text += "User=" + user + "\nGroup=" + user + "\n";
  text += std::string("StateDirectory=") + kStateDirectory +
          "\n"
          // The state directory holds the daily logs, photos and the embedded
          // engine's databases: residents' data, for the service's user only.
          "StateDirectoryMode=0700\n"
          // The machine settings file is rewritten at every start (appFolder),
          // so its folder is the one place outside the state directory the
          // service may write.
          "ConfigurationDirectory=" +
          kStateDirectory +
          "\n"
          "ConfigurationDirectoryMode=0700\n"
          "ReadWritePaths=" +
          kSettingsFolder +
          "\n"
          "UMask=0077\n"
          // Confinement: no privileges, no view of homes, devices, kernel
          // settings or other services' temporary files; sockets of the
          // local and internet families only (SQL Server, the central host,
          // the journal and the notification socket); the system calls of an
          // ordinary service.
          "NoNewPrivileges=yes\n"
          "CapabilityBoundingSet=\n"
          "AmbientCapabilities=\n"
          "ProtectSystem=strict\n"
          "ProtectHome=yes\n"
          "PrivateTmp=yes\n"
          "PrivateDevices=yes\n"
          "ProtectKernelTunables=yes\n"
          "ProtectKernelModules=yes\n"
          "ProtectKernelLogs=yes\n"
          "ProtectControlGroups=yes\n"
          "ProtectClock=yes\n"
          "ProtectHostname=yes\n"
          "ProtectProc=invisible\n"
          "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6\n"
          "RestrictNamespaces=yes\n"
          "RestrictRealtime=yes\n"
          "RestrictSUIDSGID=yes\n"
          "LockPersonality=yes\n"
          "MemoryDenyWriteExecute=yes\n"
          "RemoveIPC=yes\n"
          "SystemCallArchitectures=native\n"
          "SystemCallFilter=@system-service\n"
          "SystemCallFilter=~@privileged @resources\n"
          "SystemCallErrorNumber=EPERM\n"
          "\n"
          "[Install]\n"
          "WantedBy=multi-user.target\n";
  return text;
}

std::string ServiceUserIfPresent() {
  if (getpwnam(kServiceUser) == nullptr) return {};
  return kServiceUser;
}

std::filesystem::path UnitDirectory() {
  const char* root = std::getenv("PVREMOTE_ROOT");
  if (root != nullptr && *root != '\0') {
    return std::filesystem::path(root) / "etc/systemd/system";
  }
  return "/etc/systemd/system";
}

std::filesystem::path UnitPath() { return UnitDirectory() / kUnitName; }

bool WriteUnitFile(const std::filesystem::path& executable) {
  std::error_code ec;
  std::filesystem::create_directories(UnitDirectory(), ec);
  // Readable by everyone, as systemd's own units are.
  return ReplaceFileAtomically(UnitPath().string(), UnitText(executable, ServiceUserIfPresent()),
                               0644);
}

bool RemoveUnitFile() {
  std::error_code ec;
  std::filesystem::remove(UnitPath(), ec);
  return !std::filesystem::exists(UnitPath(), ec);
}

std::filesystem::path OwnExecutable() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return path;
}

}  // namespace pv::platform
