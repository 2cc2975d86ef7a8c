// The service manager's and the terminal's requests, as signals on the event
// loop: SIGTERM is the manager's stop, SIGINT the close request of a run in
// the foreground (Ctrl+C), SIGHUP the end of the terminal session.
//
// Windows: the console's control events take the place of the signals:
// Ctrl+C, Ctrl+Break and closing the console window are the close request;
// log-off and system shutdown the end of the session. (The service control
// manager's stop comes through the dispatcher, service_dispatcher.h.)
#pragma once

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <functional>
#include <memory>

namespace pv::platform {

enum class ControlRequest { Stop, Close, SessionEnd };

class ControlSignals {
 public:
  using Handler = std::function<void(ControlRequest)>;

  // Starts listening at once; every request is delivered on the loop's
  // thread. Listening goes on after each request until Cancel.
  ControlSignals(asio::io_context& io, Handler handler);
  ~ControlSignals();
  ControlSignals(const ControlSignals&) = delete;
  ControlSignals& operator=(const ControlSignals&) = delete;

  void Cancel();

 private:
  void Wait();

  asio::signal_set signals_;
  Handler handler_;
  bool cancelled_ = false;
#ifdef _WIN32
  struct ConsoleRelay;
  std::shared_ptr<ConsoleRelay> console_;
#endif
};

}  // namespace pv::platform
