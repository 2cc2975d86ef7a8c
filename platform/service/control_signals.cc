#include "platform/service/control_signals.h"

#include <csignal>

namespace pv::platform {

#ifdef SIGHUP
ControlSignals::ControlSignals(asio::io_context& io, Handler handler)
    : signals_(io, SIGTERM, SIGINT, SIGHUP), handler_(std::move(handler)) {
  Wait();
}
#else
// Windows has no SIGHUP: the C runtime raises only SIGINT (Ctrl+C) and
// SIGTERM here; the end of a session reaches a console program through its
// console control handler instead.
ControlSignals::ControlSignals(asio::io_context& io, Handler handler)
    : signals_(io, SIGTERM, SIGINT), handler_(std::move(handler)) {
  Wait();
}
#endif

ControlSignals::~ControlSignals() { Cancel(); }

void ControlSignals::Cancel() {
  if (cancelled_) return;
  cancelled_ = true;
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
