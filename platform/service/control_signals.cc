#include "platform/service/control_signals.h"

#include <csignal>

#ifdef _WIN32
#include <windows.h>

#include <asio/post.hpp>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#endif

namespace pv::platform {

#ifdef SIGHUP
ControlSignals::ControlSignals(asio::io_context& io, Handler handler)
    : signals_(io, SIGTERM, SIGINT, SIGHUP), handler_(std::move(handler)) {
  Wait();
}
#else
// Windows has no SIGHUP, and the C runtime raises SIGINT only for Ctrl+C: the
// console's control handler below delivers every console event instead, and
// the signal set keeps only SIGTERM (raised within the process).
struct ControlSignals::ConsoleRelay {
  asio::io_context& io;
  ControlSignals* owner;
  std::atomic<bool> cancelled{false};

  // The relay of the listening ControlSignals (the console has one handler
  // list for the whole process).
  static inline std::mutex currentMutex;
  static inline std::shared_ptr<ConsoleRelay> current;

  // On the thread the system makes for the console event.
  static BOOL WINAPI Routine(DWORD event) {
    std::shared_ptr<ConsoleRelay> relay;
    {
      std::lock_guard lock(ConsoleRelay::currentMutex);
      relay = current;
    }
    if (!relay) return FALSE;
    ControlRequest request = ControlRequest::Close;
    switch (event) {
      case CTRL_C_EVENT:
      case CTRL_BREAK_EVENT:
      case CTRL_CLOSE_EVENT:
        break;
      case CTRL_LOGOFF_EVENT:
      case CTRL_SHUTDOWN_EVENT:
        request = ControlRequest::SessionEnd;
        break;
      default:
        return FALSE;
    }
    auto done = std::make_shared<std::promise<void> >();
    auto finished = done->get_future();
    asio::post(relay->io, [relay, request, done] {
      if (!relay->cancelled && relay->owner->handler_) relay->owner->handler_(request);
      done->set_value();
    });
    // The process ends when this routine returns from a close event: let the
    // shutdown routine finish first (the system allows about five seconds).
    if (event == CTRL_CLOSE_EVENT) finished.wait_for(std::chrono::milliseconds(4500));
    return TRUE;
  }
};

ControlSignals::ControlSignals(asio::io_context& io, Handler handler)
    : signals_(io, SIGTERM), handler_(std::move(handler)) {
  console_.reset(new ConsoleRelay{io, this});
  {
    std::lock_guard lock(ConsoleRelay::currentMutex);
    ConsoleRelay::current = console_;
  }
  SetConsoleCtrlHandler(&ConsoleRelay::Routine, TRUE);
  Wait();
}
#endif

ControlSignals::~ControlSignals() { Cancel(); }

void ControlSignals::Cancel() {
  if (cancelled_) return;
  cancelled_ = true;
#ifdef _WIN32
  console_->cancelled = true;
  {
    std::lock_guard lock(ConsoleRelay::currentMutex);
    if (ConsoleRelay::current == console_) ConsoleRelay::current.reset();
  }
  SetConsoleCtrlHandler(&ConsoleRelay::Routine, FALSE);
#endif
  std::error_code ignored;
  signals_.cancel(ignored);
}

void ControlSignals::Wait() {
  signals_.async_wait([this](const std::error_code& ec, int signal) {
    if (ec || cancelled_) return;
    ControlRequest request = ControlRequest::Close;
    if (signal == SIGTERM) request = ControlRequest::Stop;
#ifdef SIGHUP
    if (signal == SIGHUP) request = ControlRequest::SessionEnd;
#endif
    Wait();
    if (handler_) handler_(request);
  });
}

}  // namespace pv::platform
