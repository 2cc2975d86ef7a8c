// A few lines of central server for the service's tests: listens on a free
// loopback port, records every message the service sends (framed by
// ":tPVStr", Windows-1252 on the wire) and sends replies on the latest
// connection. Runs on the io_context it is given.
#pragma once

#include <array>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pv::testing {

// UTF-8 "§" -> the single Windows-1252 byte 0xA7; other text is ASCII here.
inline std::string ToWire(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (static_cast<unsigned char>(utf8[i]) == 0xC2 && i + 1 < utf8.size() &&
        static_cast<unsigned char>(utf8[i + 1]) == 0xA7) {
      out += '\xA7';
      ++i;
    } else {
      out += utf8[i];
    }
  }
  return out;
}

class TestCentral {
 public:
  explicit TestCentral(asio::io_context& io)
      : acceptor_(io, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
    Accept();
  }

  std::string port() const { return std::to_string(acceptor_.local_endpoint().port()); }

  // Sends "+OK " + text + delimiter on the current connection.
  void Reply(const std::string& text) { SendRaw(ToWire("+OK " + text) + ":tPVStr"); }
  void SendRaw(const std::string& bytes) {
    if (!peer_ || !peer_->is_open()) return;
    std::error_code ec;
    asio::write(*peer_, asio::buffer(bytes), ec);
  }
  // Closes the current connection from the server's side.
  void Drop() {
    if (peer_) {
      std::error_code ec;
      peer_->shutdown(asio::ip::tcp::socket::shutdown_both, ec);
      peer_->close(ec);
    }
    open_ = false;
  }

  bool open() const { return open_; }
  int connections() const { return connections_; }
  const std::vector<std::string>& received() const { return received_; }
  // Messages other than the keepalive.
  std::vector<std::string> notices() const {
    std::vector<std::string> out;
    for (const auto& m : received_) {
      if (m != "PVTE") out.push_back(m);
    }
    return out;
  }
  void ClearReceived() { received_.clear(); }

 private:
  void Accept() {
    acceptor_.async_accept([this](const std::error_code& ec, asio::ip::tcp::socket socket) {
      if (ec) return;
      Drop();
      peer_ = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
      buffer_.clear();
      ++connections_;
      open_ = true;
      Read(peer_);
      Accept();
    });
  }

  void Read(std::shared_ptr<asio::ip::tcp::socket> peer) {
    auto chunk = std::make_shared<std::array<char, 4096>>();
    peer->async_read_some(asio::buffer(*chunk),
                          [this, peer, chunk](const std::error_code& ec, std::size_t n) {
                            if (peer != peer_) return;
                            if (ec) {
                              open_ = false;
                              return;
                            }
                            buffer_.append(chunk->data(), n);
                            for (auto at = buffer_.find(":tPVStr"); at != std::string::npos;
                                 at = buffer_.find(":tPVStr")) {
                              received_.push_back(buffer_.substr(0, at));
                              buffer_.erase(0, at + 7);
                            }
                            Read(peer);
                          });
  }

  asio::ip::tcp::acceptor acceptor_;
  std::shared_ptr<asio::ip::tcp::socket> peer_;
  std::string buffer_;
  std::vector<std::string> received_;
  int connections_ = 0;
  bool open_ = false;
};

// Runs the loop until `done` holds or `timeout` passes; returns `done()`.
inline bool RunUntil(asio::io_context& io, const std::function<bool()>& done,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    io.restart();
    io.run_one_for(std::chrono::milliseconds(5));
  }
  return done();
}

// Runs the loop for `duration`.
inline void RunFor(asio::io_context& io, std::chrono::milliseconds duration) {
  RunUntil(
      io, [] { return false; }, duration);
}

}  // namespace pv::testing
