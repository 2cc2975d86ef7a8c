#include <windows.h>

#include <exception>
#include <mutex>

#include "platform/service/event_log.h"
#include "platform/service/service_dispatcher.h"
#include "platform/service/unit_file.h"

namespace pv::platform {

namespace {

// Stop, pause/continue and shutdown: 7.
constexpr DWORD kAcceptedControls =
    SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
// Time the manager is told to allow for the start routine's delay and for
// the shutdown routine before it regards the service as hung.
constexpr DWORD kStartWaitHint = 30000;
constexpr DWORD kStopWaitHint = 60000;

// The one service of this process. It lives as long as the process: the
// manager may call the control handler on its own thread up to the moment
// the service reports stopped.
class Session final : public ServiceSession {
 public:
  void Begin(SERVICE_STATUS_HANDLE handle) {
    std::lock_guard lock(mutex_);
    handle_ = handle;
    status_ = {};
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    handler_ = nullptr;
    ReportLocked(SERVICE_START_PENDING, 0, kStartWaitHint);
  }

  void SetControlHandler(std::function<void(ControlRequest)> handler) override {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
  }

  void ReportRunning() override {
    std::lock_guard lock(mutex_);
    if (status_.dwCurrentState == SERVICE_START_PENDING) {
      ReportLocked(SERVICE_RUNNING, kAcceptedControls, 0);
    }
  }

  void ReportStopPending() override {
    std::lock_guard lock(mutex_);
    if (status_.dwCurrentState != SERVICE_STOPPED)
      ReportLocked(SERVICE_STOP_PENDING, 0, kStopWaitHint);
  }

  void ReportStopped(int exitCode) {
    std::lock_guard lock(mutex_);
    if (exitCode != 0) {
      status_.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
      status_.dwServiceSpecificExitCode = static_cast<DWORD>(exitCode);
    }
    ReportLocked(SERVICE_STOPPED, 0, 0);
    handler_ = nullptr;
  }

  // On the manager's control thread.
  // The handler is called with the lock held, so once SetControlHandler has
  // replaced it no call of the old one is still running.
  DWORD Control(DWORD control) {
    std::lock_guard lock(mutex_);
    switch (control) {
      case SERVICE_CONTROL_STOP:
      case SERVICE_CONTROL_SHUTDOWN:
        if (status_.dwCurrentState == SERVICE_STOPPED) return NO_ERROR;
        ReportLocked(SERVICE_STOP_PENDING, 0, kStopWaitHint);
        if (handler_) handler_(ControlRequest::Stop);
        return NO_ERROR;
      // Pausing does not hold the service's work; the state is reported as
      // the manager asked for it.
      case SERVICE_CONTROL_PAUSE:
        if (status_.dwCurrentState == SERVICE_RUNNING) {
          ReportLocked(SERVICE_PAUSED, kAcceptedControls, 0);
        }
        return NO_ERROR;
      case SERVICE_CONTROL_CONTINUE:
        if (status_.dwCurrentState == SERVICE_PAUSED) {
          ReportLocked(SERVICE_RUNNING, kAcceptedControls, 0);
        }
        return NO_ERROR;
      case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
      default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
  }

 private:
  void ReportLocked(DWORD state, DWORD accepted, DWORD waitHint) {
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                         state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
    status_.dwCheckPoint = pending ? status_.dwCheckPoint + 1 : 0;
    status_.dwCurrentState = state;
    status_.dwControlsAccepted = accepted;
    status_.dwWaitHint = waitHint;
    if (handle_ != nullptr) SetServiceStatus(handle_, &status_);
  }

  std::mutex mutex_;
  SERVICE_STATUS_HANDLE handle_ = nullptr;
  SERVICE_STATUS status_{};
  std::function<void(ControlRequest)> handler_;
};

Session session;
const std::function<int(ServiceSession&)>* serviceMainFn = nullptr;

DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  return session.Control(control);
}

std::wstring ServiceNameW() {
  const std::string name = kServiceName;
  return std::wstring(name.begin(), name.end());
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  const std::wstring name = ServiceNameW();
  SERVICE_STATUS_HANDLE handle =
      RegisterServiceCtrlHandlerExW(name.c_str(), ControlHandler, nullptr);
  if (handle == nullptr) {
    const DWORD error = GetLastError();
    WriteEventLogError(static_cast<long>(error), SystemErrorText(error));
    return;
  }
  session.Begin(handle);
  int exitCode = 1;
  try {
    exitCode = (*serviceMainFn)(session);
  } catch (const std::exception& e) {
    WriteEventLogError(0, e.what());
  } catch (...) {
    WriteEventLogError(0, "unknown failure");
  }
  session.ReportStopped(exitCode);
}

}  // namespace

DispatchResult RunServiceDispatcher(const std::function<int(ServiceSession&)>& serviceMain,
                                    unsigned long& error) {
  serviceMainFn = &serviceMain;
  std::wstring name = ServiceNameW();
  SERVICE_TABLE_ENTRYW table[] = {{name.data(), ServiceMain}, {nullptr, nullptr}};
  // Blocks until the service has stopped; it runs on a thread of its own.
  if (StartServiceCtrlDispatcherW(table)) return DispatchResult::Ran;
  error = GetLastError();
  return error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT ? DispatchResult::NotServiceRun
                                                          : DispatchResult::Failed;
}

std::string SystemErrorText(unsigned long error) {
  char* buffer = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text;
  if (n != 0 && buffer != nullptr) text.assign(buffer, n);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) text = "system error " + std::to_string(error);
  return text;
}

}  // namespace pv::platform
