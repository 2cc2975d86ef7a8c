// The server's end of the link in tests: a loopback listener and one
// accepted connection, driven synchronously from the test thread while the
// session's loop runs in small slices.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <functional>
#include <string>

namespace pv::link::testing {

class Peer {
 public:
  // A small receive buffer makes the session's writes meet a full socket soon.
  Peer() : acceptor_(io_) {
    asio::ip::tcp::endpoint endpoint(asio::ip::address_v4::loopback(), 0);
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(asio::socket_base::receive_buffer_size(64 * 1024));
    acceptor_.bind(endpoint);
    acceptor_.listen();
    acceptor_.non_blocking(true);
  }

  std::string port() const { return std::to_string(acceptor_.local_endpoint().port()); }

  // Takes a pending connection; false when none is waiting.
  bool TryAccept() {
    std::error_code ec;
    asio::ip::tcp::socket s(io_);
    acceptor_.accept(s, ec);
    if (ec) return false;
    socket_ = std::move(s);
    socket_.non_blocking(true);
    ++accepted_;
    return true;
  }
  int accepted() const { return accepted_; }

  // Writes all of `bytes`; while the socket is full, `pump` runs (the
  // session's loop), so a large write cannot block the test for ever.
  void Write(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
      std::error_code ec;
      at += socket_.write_some(asio::buffer(bytes.data() + at, bytes.size() - at), ec);
      if (ec == asio::error::would_block || ec == asio::error::try_again) {
        if (pump) pump();
      } else if (ec) {
        return;
      }
    }
  }
  std::function<void()> pump;

  // Everything that has arrived so far is appended to received().
  void Drain() {
    if (!socket_.is_open()) return;
    char buf[65536];
    for (;;) {
      std::error_code ec;
      std::size_t n = socket_.read_some(asio::buffer(buf), ec);
      if (ec || n == 0) return;
      received_.append(buf, n);
    }
  }
  std::string& received() { return received_; }

  // Abortive close: the session sees a reset.
  void Reset() {
    socket_.set_option(asio::socket_base::linger(true, 0));
    socket_.close();
  }
  void Close() { socket_.close(); }

 private:
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_;
  asio::ip::tcp::socket socket_{io_};
  std::string received_;
  int accepted_ = 0;
};

}  // namespace pv::link::testing
