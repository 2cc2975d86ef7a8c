// The service control manager side of install, uninstall, start and stop.
#include <windows.h>

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/service/event_log.h"
#include "platform/service/service_control.h"
#include "platform/service/service_dispatcher.h"
#include "platform/service/unit_file.h"

namespace pv::platform {

namespace {

std::wstring Widen(const std::string& text) {
  const std::string s = text;
  return std::wstring(s.begin(), s.end());
}

// A failure of a service-manager call: an error entry in the event log and a
// line on stderr.
void ReportFailure(const char* what, DWORD error) {
  const std::string text = std::string(what) + ": " + SystemErrorText(error);
  WriteEventLogError(static_cast<long>(error), text);
  std::cerr << "pvremote: " << text << " [" << error << "]\n";
}

// The executable's own path, quoted, as the manager's command line.
std::wstring QuotedOwnPath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return L"\"" + std::wstring(buf.data(), n) + L"\"";
    if (buf.size() >= 32768) return {};
    buf.resize(buf.size() * 2);
  }
}

// Starts "net <verb> PVRemote" in a minimised window of its own and does not
// wait for it.
void RunNet(const char* verb) {
  const std::wstring name = Widen(kServiceName);
  std::wstring command = std::string_view(verb) == "restart"
                             ? L"cmd /c net stop " + name + L" & net start " + name
                             : L"net " + Widen(verb) + L" " + name;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMINNOACTIVE;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                      nullptr, &startup, &process)) {
    ReportFailure((std::string("net ") + verb + " " + kServiceName).c_str(), GetLastError());
    return;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace

bool InstallService() {
  const std::wstring path = QuotedOwnPath();
  if (path.empty()) {
    ReportFailure("GetModuleFileName", GetLastError());
    return false;
  }
  SC_HANDLE manager =
      OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
  if (manager == nullptr) {
    ReportFailure("OpenSCManager", GetLastError());
    return false;
  }
  const std::wstring name = Widen(kServiceName);
  const std::wstring display = Widen(kDisplayName);
  bool installed = false;
  SC_HANDLE service =
      CreateServiceW(manager, name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                     path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (service != nullptr) {
    installed = true;
  } else if (GetLastError() == ERROR_SERVICE_EXISTS) {
    // Installed before: bring its registration up to date (this executable,
    // automatic start).
    service = OpenServiceW(manager, name.c_str(), SERVICE_CHANGE_CONFIG);
    if (service != nullptr &&
        ChangeServiceConfigW(service, SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                             SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr, nullptr,
                             nullptr, display.c_str())) {
      installed = true;
    } else {
      ReportFailure("ChangeServiceConfig", GetLastError());
    }
  } else {
    ReportFailure("CreateService", GetLastError());
  }
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return installed;
}

void UninstallService() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) {
    ReportFailure("OpenSCManager", GetLastError());
    return;
  }
  const std::wstring name = Widen(kServiceName);
  SC_HANDLE service =
      OpenServiceW(manager, name.c_str(), DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (service == nullptr) {
    ReportFailure("OpenService", GetLastError());
    CloseServiceHandle(manager);
    return;
  }
  // The stop is asked for, not waited for: the manager removes the service
  // once it has stopped. A service that is not running refuses the stop.
  SERVICE_STATUS status{};
  if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_NOT_ACTIVE) ReportFailure("ControlService", error);
  }
  if (!DeleteService(service)) {
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_MARKED_FOR_DELETE) ReportFailure("DeleteService", error);
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

void StartService() { RunNet("start"); }

void StopService() { RunNet("stop"); }

bool ServiceRunning() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return false;
  const std::wstring name = Widen(kServiceName);
  SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  const bool running =
      service != nullptr && QueryServiceStatus(service, &status) &&
      (status.dwCurrentState == SERVICE_RUNNING || status.dwCurrentState == SERVICE_START_PENDING);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return running;
}

void RestartService() { RunNet("restart"); }

}  // namespace pv::platform
