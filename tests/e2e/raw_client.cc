#include "tests/e2e/raw_client.h"

namespace pv::e2e {

RawClient::RawClient(unsigned short port) : socket_(io_) {
  socket_.connect({asio::ip::address_v4::loopback(), port});
}

void RawClient::SendBytes(const std::string& bytes) { asio::write(socket_, asio::buffer(bytes)); }

void RawClient::ReadSome(std::chrono::milliseconds timeout) {
  if (!reading_ && !closed_) {
    reading_ = true;
    socket_.async_read_some(asio::buffer(chunk_), [this](std::error_code ec, std::size_t n) {
      reading_ = false;
      pending_.append(chunk_, n);
      if (ec) closed_ = true;
    });
  }
  io_.restart();
  io_.run_one_for(timeout);
}

std::optional<std::string> RawClient::Next(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const std::size_t pos = pending_.find(":tPVStr");
    if (pos != std::string::npos) {
      std::string message = pending_.substr(0, pos);
      pending_.erase(0, pos + 7);
      return message;
    }
    const auto now = std::chrono::steady_clock::now();
    if (closed_ || now >= deadline) return std::nullopt;
    ReadSome(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
  }
}

bool RawClient::WaitClosed(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!closed_) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    ReadSome(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
  }
  return true;
}

void RawClient::Close() {
  std::error_code ignored;
  socket_.close(ignored);
  closed_ = true;
}

}  // namespace pv::e2e
