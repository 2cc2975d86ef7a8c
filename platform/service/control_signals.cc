#include "platform/service/control_signals.h"

#include <csignal>

namespace pv::platform {

ControlSignals::ControlSignals(asio::io_context& io, Handler handler)
    : signals_(io, SIGTERM, SIGINT, SIGHUP), handler_(std::move(handler)) {
  Wait();
}

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
    if (signal == SIGHUP) request = ControlRequest::SessionEnd;
    Wait();
    if (handler_) handler_(request);
  });
}

}  // namespace pv::platform
