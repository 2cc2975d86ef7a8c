// A bare TCP client for talking to pvcentral in tests: it sends and receives
// wire bytes (Windows-1252) and does its own framing at ":tPVStr", so the
// simulator's framing is checked against an independent implementation.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <optional>
#include <string>

namespace pv::e2e {

class RawClient {
 public:
  // Connects to 127.0.0.1:port; throws std::system_error when refused.
  explicit RawClient(unsigned short port);

  void SendBytes(const std::string& bytes);
  void Send(const std::string& message) { SendBytes(message + ":tPVStr"); }

  // The next complete message (delimiter removed), or nothing when none
  // arrives within `timeout` or the peer closed the connection.
  std::optional<std::string> Next(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits for the peer to close the connection.
  bool WaitClosed(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  bool closed() const { return closed_; }
  void Close();

 private:
  void ReadSome(std::chrono::milliseconds timeout);

  asio::io_context io_;
  asio::ip::tcp::socket socket_;
  std::string pending_;
  char chunk_[4096];
  bool reading_ = false;
  bool closed_ = false;
};

}  // namespace pv::e2e
