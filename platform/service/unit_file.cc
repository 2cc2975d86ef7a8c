#include "platform/service/unit_file.h"

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

std::string UnitText(const std::filesystem::path& executable) {
  return std::string("[Unit]\n") + "Description=" + kDisplayName +
         "\n"
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
         "StateDirectory=" +
         std::string(kStateDirectory) +
         "\n"
         // The state directory holds the daily logs, photos and the embedded
         // engine's databases: residents' data, for the service's user only.
         "StateDirectoryMode=0700\n"
         "TimeoutStopSec=60\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
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
  return ReplaceFileAtomically(UnitPath().string(), UnitText(executable), 0644);
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
