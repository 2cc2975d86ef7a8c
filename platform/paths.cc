#include "platform/paths.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: shlobj.h relies on its types.
#include <shlobj.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <string_view>
#include <vector>

#include "platform/utf8_paths.h"

namespace pv::platform {
namespace {

std::string Env(const char* name) {
#ifdef _WIN32
  // The wide environment, so that a folder outside the ANSI code page
  // arrives as UTF-8.
  const wchar_t* value = _wgetenv(WideFromUtf8(name).c_str());
  return value ? Utf8FromWide(value) : std::string();
#else
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
#endif
}

#ifdef _WIN32

// The account's local application-data folder, created when missing
// (CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE), ending in a backslash; empty
// when Windows names none. UTF-8, like every path in the program.
std::string LocalAppDataFromShell() {
  constexpr int kLocalAppDataCreate = 0x801C;
  wchar_t buf[MAX_PATH + 1] = {};
  if (SHGetFolderPathW(nullptr, kLocalAppDataCreate, nullptr, SHGFP_TYPE_CURRENT, buf) != S_OK) {
    return {};
  }
  std::string folder = Utf8FromWide(buf);
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

#else

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  // No HOME (some service contexts): ask the password database.
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && pw.pw_dir) {
    return pw.pw_dir;
  }
  return {};
}

#endif

}  // namespace

Paths Paths::UnderRoot(const std::string& root) {
  Paths p;
  p.root_ = root;
  const std::string base = WithoutTrailingSeparators(root);
  p.machineStore_ = base + "/etc/pvremote/machine.reg";
  p.defaultUserStore_ = base + "/etc/pvremote/default-user.reg";
  p.currentUserStore_ = base + "/home/.config/pvremote/user.reg";
  p.localAppData_ = base + "/var/lib/pvremote/";
#ifdef _WIN32
  // The same layout, written with Windows' separator.
  for (std::string* s :
       {&p.machineStore_, &p.defaultUserStore_, &p.currentUserStore_, &p.localAppData_}) {
    for (std::size_t i = base.size(); i < s->size(); ++i) {
      if ((*s)[i] == '/') (*s)[i] = '\\';
    }
  }
#endif
  return p;
}

Paths Paths::FromEnvironment() {
  std::string root = Env("PVREMOTE_ROOT");
  if (!root.empty()) return UnderRoot(root);

  Paths p;
#ifdef _WIN32
  // Without a relocation root the settings live in the registry, so there
  // are no settings files; the application data go where the shell says.
  p.localAppData_ = LocalAppDataFromShell();
#else
  p.machineStore_ = "/etc/pvremote/machine.reg";
  p.defaultUserStore_ = "/etc/pvremote/default-user.reg";

  std::string home = HomeFolder();
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty() && !home.empty()) config = WithSlash(home) + ".config";
  if (!config.empty()) p.currentUserStore_ = WithSlash(config) + "pvremote/user.reg";

  // systemd may list several state directories separated by ':'; the first
  // is the service's own.
  std::string state = Env("STATE_DIRECTORY");
  state = state.substr(0, state.find(':'));
  if (!state.empty()) {
    p.localAppData_ = WithSlash(state);
  } else {
    std::string data = Env("XDG_DATA_HOME");
    if (data.empty() && !home.empty()) data = WithSlash(home) + ".local/share";
    if (!data.empty()) p.localAppData_ = WithSlash(data) + "pvremote/";
  }
#endif
  return p;
}

std::string ProgramFolder() {
#ifdef _WIN32
  // The module name is cut to the buffer without saying so other than by
  // filling it: grow until it fits.
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      std::string exe = Utf8FromWide(std::wstring_view(buf.data(), n));
      auto slash = exe.find_last_of("\\/");
      if (slash == std::string::npos) return {};
      return exe.substr(0, slash + 1);
    }
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
#else
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  std::string exe(buf.data(), static_cast<std::size_t>(n));
  auto slash = exe.rfind('/');
  if (slash == std::string::npos) return {};
  return exe.substr(0, slash + 1);
#endif
}

bool IsDebugRun() {
  if (!Env("INVOCATION_ID").empty() || !Env("NOTIFY_SOCKET").empty()) return false;
  return Env("PVREMOTE_DEBUG") == "1";
}

}  // namespace pv::platform
