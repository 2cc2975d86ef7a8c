#include "platform/service/control_signals.h"

#include <asio/post.hpp>
#include <csignal>

#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <future>
#include <mutex>
#else
#include <pthread.h>

#include <cerrno>
#include <ctime>
#endif

namespace pv::platform {

void ControlSignals::Deliver(ControlRequest request) {
  if (*cancelled_) return;
  if (onArrival_) onArrival_(request);
  asio::post(io_, [this, cancelled = cancelled_, request] {
    if (!*cancelled && handler_) handler_(request);
  });
}

#ifndef _WIN32
namespace {

sigset_t ControlSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

ControlSignals::ControlSignals(asio::io_context& io, Handler handler, Handler onArrival)
    : io_(io),
      handler_(std::move(handler)),
      onArrival_(std::move(onArrival)),
      work_(asio::make_work_guard(io)) {
  // Blocked here, before the listener starts: threads started later inherit
  // the mask, so only the listener ever takes these signals.
  const sigset_t set = ControlSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  listener_ = std::thread([this, set] {
    while (!*cancelled_) {
      // Woken every 100 ms to see whether listening was cancelled.
      const timespec wait{0, 100'000'000};
      const int signal = sigtimedwait(&set, nullptr, &wait);
      if (signal < 0) continue;  // time-out or EINTR
      ControlRequest request = ControlRequest::Close;
      if (signal == SIGTERM) request = ControlRequest::Stop;
      if (signal == SIGHUP) request = ControlRequest::SessionEnd;
      Deliver(request);
    }
  });
}

ControlSignals::~ControlSignals() { Cancel(); }

void ControlSignals::Cancel() {
  if (cancelled_->exchange(true)) return;
  if (listener_.joinable()) listener_.join();
  work_.reset();
}

#else
// Windows has no SIGHUP, and the C runtime raises SIGINT only for Ctrl+C: the
// console's control handler below delivers every console event instead, and
// the signal set keeps only SIGTERM (raised within the process).
struct ControlSignals::ConsoleRelay {
  ControlSignals* owner;

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
    ControlSignals& owner = *relay->owner;
    if (*owner.cancelled_) return FALSE;
    if (owner.onArrival_) owner.onArrival_(request);
    auto done = std::make_shared<std::promise<void> >();
    auto finished = done->get_future();
    asio::post(owner.io_, [relay, cancelled = owner.cancelled_, request, done] {
      if (!*cancelled && relay->owner->handler_) relay->owner->handler_(request);
      done->set_value();
    });
    // The process ends when this routine returns from a close event: let the
    // shutdown routine finish first (the system allows about five seconds).
    if (event == CTRL_CLOSE_EVENT) finished.wait_for(std::chrono::milliseconds(4500));
    return TRUE;
  }
};

ControlSignals::ControlSignals(asio::io_context& io, Handler handler, Handler onArrival)
    : io_(io),
      handler_(std::move(handler)),
      onArrival_(std::move(onArrival)),
      signals_(io, SIGTERM) {
  console_.reset(new ConsoleRelay{this});
  {
    std::lock_guard lock(ConsoleRelay::currentMutex);
    ConsoleRelay::current = console_;
  }
  SetConsoleCtrlHandler(&ConsoleRelay::Routine, TRUE);
  Wait();
}

ControlSignals::~ControlSignals() { Cancel(); }

void ControlSignals::Cancel() {
  if (cancelled_->exchange(true)) return;
  {
    std::lock_guard lock(ConsoleRelay::currentMutex);
    if (ConsoleRelay::current == console_) ConsoleRelay::current.reset();
  }
  SetConsoleCtrlHandler(&ConsoleRelay::Routine, FALSE);
  std::error_code ignored;
  signals_.cancel(ignored);
}

// SIGTERM raised within the process arrives through the signal set, already
// on the loop: the arrival function runs there, then the handler.
void ControlSignals::Wait() {
  signals_.async_wait([this](const std::error_code& ec, int) {
    if (ec || *cancelled_) return;
    Wait();
    if (onArrival_) onArrival_(ControlRequest::Stop);
    if (handler_) handler_(ControlRequest::Stop);
  });
}
#endif

}  // namespace pv::platform
