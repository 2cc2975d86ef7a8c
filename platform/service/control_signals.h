// The service manager's and the terminal's requests, as signals on the event
// loop: SIGTERM is the manager's stop, SIGINT the close request of a run in
// the foreground (Ctrl+C), SIGHUP the end of the terminal session.
//
// A request is also told at once, off the loop, to an optional `onArrival`
// function: a long job running on the loop's thread (a full upload) cannot
// see the loop's handler until it ends, but it can look at a flag that
// function sets. On POSIX the signals are blocked in the process and taken
// by a listening thread, so they never interrupt a system call; they stay
// blocked after the listener ends.
//
// Windows: the console's control events take the place of the signals:
// Ctrl+C, Ctrl+Break and closing the console window are the close request;
// log-off and system shutdown the end of the session. (The service control
// manager's stop comes through the dispatcher, service_dispatcher.h.)
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace pv::platform {

enum class ControlRequest { Stop, Close, SessionEnd };

class ControlSignals {
 public:
  using Handler = std::function<void(ControlRequest)>;

  // Starts listening at once; every request is delivered on the loop's
  // thread. Listening goes on after each request until Cancel. `onArrival`,
  // when given, runs first on the thread that received the request: it must
  // only set flags (it may run while the loop's thread is busy).
  ControlSignals(asio::io_context& io, Handler handler, Handler onArrival = {});
  ~ControlSignals();
  ControlSignals(const ControlSignals&) = delete;
  ControlSignals& operator=(const ControlSignals&) = delete;

  void Cancel();

 private:
  // Runs onArrival at once, then the handler on the loop.
  void Deliver(ControlRequest request);

  asio::io_context& io_;
  Handler handler_;
  Handler onArrival_;
  // Shared with the handlers posted to the loop, which may outlive this.
  std::shared_ptr<std::atomic<bool> > cancelled_ = std::make_shared<std::atomic<bool> >(false);
#ifdef _WIN32
  void Wait();
  asio::signal_set signals_;
  struct ConsoleRelay;
  std::shared_ptr<ConsoleRelay> console_;
#else
  std::thread listener_;
  // Listening counts as work of the loop, as a pending signal wait does:
  // the loop runs until it is stopped.
  std::optional<asio::executor_work_guard<asio::io_context::executor_type> > work_;
#endif
};

}  // namespace pv::platform
