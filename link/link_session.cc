#include "link/link_session.h"

#include <asio/connect.hpp>
#include <asio/error.hpp>
#include <asio/ip/tcp.hpp>

#include "common/cp1252.h"
#include "platform/socket_errors.h"

namespace pv::link {

// ---- ReceiveFramer ----

void ReceiveFramer::Append(std::string_view bytes) { buffer_.Cat(bytes); }

bool ReceiveFramer::Next(std::string& message) {
  std::string_view text = buffer_.View();
  std::size_t at = text.find(kDelimiter, searchFrom_);
  if (at == std::string_view::npos) {
    // A delimiter may still end with the next bytes: keep its possible start.
    searchFrom_ = text.size() >= kDelimiter.size() ? text.size() - (kDelimiter.size() - 1) : 0;
    return false;
  }
  message.assign(text.data(), at);
  buffer_.Consume(static_cast<std::int32_t>(at + kDelimiter.size()));
  searchFrom_ = 0;
  return true;
}

bool ReceiveFramer::Overflowed() const { return pending() > limit_; }

void ReceiveFramer::Clear() {
  buffer_.SetText("");
  searchFrom_ = 0;
}

// ---- LinkSession ----

namespace {
// Reads per readiness notification before other events get their turn.
constexpr int kMaxReadsPerWake = 256;
}  // namespace

LinkSession::LinkSession(asio::io_context& io, std::string host, std::string port, LinkHooks hooks,
                         std::chrono::milliseconds supervisionInterval)
    : host_(std::move(host)),
      port_(std::move(port)),
      hooks_(std::move(hooks)),
      resolver_(io),
      socket_(io),
      socketTimer_(io, supervisionInterval) {
  socketTimer_.SetHandler([this] { SuperviseLink(); });
}

LinkSession::~LinkSession() {
  alive_.reset();
  socketTimer_.Disable();
  CloseSocket();
}

int LinkSession::handle() const {
  auto& socket = const_cast<asio::ip::tcp::socket&>(socket_);
  return socket.is_open() ? static_cast<int>(socket.native_handle()) : -1;
}

void LinkSession::CloseSocket() {
  ++generation_;
  state_ = State::Down;
  readWaitPending_ = false;
  writeWaitPending_ = false;
  resolver_.cancel();
  std::error_code ec;
  if (socket_.is_open()) {
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    socket_.close(ec);
  }
}

void LinkSession::ConnectLink() {
  try {
    if (state_ != State::Down || socket_.is_open()) CloseSocket();
    state_ = State::Connecting;
    std::uint64_t generation = ++generation_;
    std::weak_ptr<int> alive = alive_;
    resolver_.async_resolve(
        host_, port_,
        [this, alive, generation](const std::error_code& ec,
                                  const asio::ip::tcp::resolver::results_type& results) {
          if (alive.expired()) return;
          OnResolved(generation, ec, results);
        });
    ClearLinkBuffers();
  } catch (...) {
    CloseSocket();
  }
  socketTimer_.Enable();
}

void LinkSession::OnResolved(std::uint64_t generation, const std::error_code& ec,
                             const asio::ip::tcp::resolver::results_type& results) {
  if (generation != generation_) return;
  if (ec) {
    // Unknown host or no network: down until the next supervision tick.
    CloseSocket();
    ReportState(false, "cannot resolve " + host_ + ": " + ec.message());
    return;
  }
  std::weak_ptr<int> alive = alive_;
  asio::async_connect(
      socket_, results,
      [this, alive, generation](const std::error_code& ec2, const asio::ip::tcp::endpoint&) {
        if (alive.expired()) return;
        OnConnected(generation, ec2);
      });
}

void LinkSession::OnConnected(std::uint64_t generation, const std::error_code& ec) {
  if (generation != generation_) return;
  if (ec) {
    CloseSocket();
    ReportState(false, "cannot connect to " + host_ + ":" + port_ + ": " + ec.message());
    return;
  }
  std::error_code ignored;
  socket_.non_blocking(true, ignored);
  if (ignored) {
    CloseSocket();
    return;
  }
  socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
  state_ = State::Connected;
  ReportState(true, {});
  WaitReadable();
  // Anything queued while the connect was under way goes out now.
  if (send_.Length() > 0) FlushSend();
}

void LinkSession::DisconnectLink(bool stopSupervision) {
  try {
    if (stopSupervision) socketTimer_.Disable();
    if (hooks_.onStopUpdateQueue) {
      try {
        hooks_.onStopUpdateQueue();
      } catch (...) {
      }
    }
    CloseSocket();
    ClearLinkBuffers();
  } catch (...) {
  }
}

void LinkSession::ClearLinkBuffers() {
  receive_.Clear();
  send_.SetText("");
}

void LinkSession::SendMessage(const std::string& text, bool withOkPrefix, bool withoutDelimiter) {
  if (text.empty()) return;
  try {
    std::string wire;
    wire.reserve(text.size() + 4 + kDelimiter.size());
    if (withOkPrefix) wire = "+OK ";
    common::AppendUtf8AsCp1252(text, wire);
    if (!withoutDelimiter) wire += kDelimiter;
    send_.Cat(wire);
  } catch (...) {
    return;
  }
  FlushSend();
}

void LinkSession::FlushSend() {
  try {
    while (send_.Length() >= 1) {
      // The connect is still under way (in progress): the queue waits for it.
      if (state_ == State::Connecting) return;
      std::string_view chunk = send_.View().substr(0, kWriteChunk);
      std::error_code ec;
      std::size_t n = 0;
      if (state_ == State::Connected) {
        n = socket_.write_some(asio::buffer(chunk.data(), chunk.size()), ec);
      } else {
        ec = asio::error::not_connected;
      }
      if (n > 0) {
        send_.Consume(static_cast<std::int32_t>(n));
        continue;
      }
      int code = ec ? platform::SocketErrorNumber(ec) : platform::kSockWouldBlock;
      if (code == platform::kSockWouldBlock || code == platform::kSockInProgress) {
        WaitWritable();
        return;
      }
      DisconnectLink(false);
      return;
    }
  } catch (...) {
    DisconnectLink(false);
  }
}

void LinkSession::SendKeepAlive() { SendMessage(std::string(kKeepAliveWord), false, false); }

void LinkSession::WaitReadable() {
  if (readWaitPending_ || state_ != State::Connected) return;
  readWaitPending_ = true;
  std::uint64_t generation = generation_;
  std::weak_ptr<int> alive = alive_;
  socket_.async_wait(asio::ip::tcp::socket::wait_read,
                     [this, alive, generation](const std::error_code& ec) {
                       if (alive.expired() || generation != generation_) return;
                       readWaitPending_ = false;
                       if (ec) {
                         OnLinkError(platform::SocketErrorNumber(ec), ec.message());
                         return;
                       }
                       OnLinkReadable();
                     });
}

void LinkSession::WaitWritable() {
  if (writeWaitPending_ || state_ != State::Connected) return;
  writeWaitPending_ = true;
  std::uint64_t generation = generation_;
  std::weak_ptr<int> alive = alive_;
  socket_.async_wait(asio::ip::tcp::socket::wait_write,
                     [this, alive, generation](const std::error_code& ec) {
                       if (alive.expired() || generation != generation_) return;
                       writeWaitPending_ = false;
                       if (ec) {
                         OnLinkError(platform::SocketErrorNumber(ec), ec.message());
                         return;
                       }
                       FlushSend();
                     });
}

void LinkSession::OnLinkReadable() {
  if (state_ != State::Connected) return;
  std::uint64_t generation = generation_;
  try {
    char buf[65536];
    for (int reads = 0; reads < kMaxReadsPerWake; ++reads) {
      std::error_code ec;
      std::size_t n = socket_.read_some(asio::buffer(buf), ec);
      if (ec == asio::error::eof) {
        // Closed by the peer: tear down, supervision stays on.
        DisconnectLink(false);
        ReportState(false, "closed by the central server");
        return;
      }
      if (ec) {
        int code = platform::SocketErrorNumber(ec);
        if (code == platform::kSockWouldBlock || code == platform::kSockInProgress) break;
        OnLinkError(code, ec.message());
        // An ignored error leaves the socket to the next write or tick.
        return;
      }
      if (n < 1) break;
      if (!ReceiveBytes(std::string_view(buf, n))) return;
    }
  } catch (...) {
    // The buffers keep what they hold.
  }
  if (generation == generation_) WaitReadable();
}

bool LinkSession::ReceiveBytes(std::string_view wireBytes) {
  std::uint64_t generation = generation_;
  receive_.Append(wireBytes);
  // The scratch strings keep their capacity from read to read; taken out of
  // the members while in use, in case a handler ever comes back here.
  std::string message = std::move(scratchMessage_);
  std::string text = std::move(scratchText_);
  struct PutBack {
    std::string& from1;
    std::string& to1;
    std::string& from2;
    std::string& to2;
    ~PutBack() {
      to1 = std::move(from1);
      to2 = std::move(from2);
    }
  } putBack{message, scratchMessage_, text, scratchText_};
  while (receive_.Next(message)) {
    Dispatch(message, text);
    // A handler that dropped or replaced the link ends the loop; the
    // messages still waiting went with the buffer.
    if (generation != generation_) return false;
  }
  if (receive_.Overflowed()) {
    if (hooks_.log) {
      try {
        hooks_.log("OnLinkReadable()", platform::kSockMessageSize,
                   "More than " + std::to_string(kMaxPendingBytes) +
                       " bytes arrived without a message delimiter; link dropped");
      } catch (...) {
      }
    }
    DisconnectLink(false);
    ReportState(false, "more than 1 MiB arrived without a message delimiter");
    return false;
  }
  return true;
}

void LinkSession::Dispatch(const std::string& wireMessage, std::string& text) {
  if (!hooks_.onMessage) return;
  try {
    text.clear();
    common::AppendCp1252AsUtf8(wireMessage, text);
    hooks_.onMessage(text);
  } catch (...) {
    // A failing handler ends its own message only.
  }
}

void LinkSession::OnLinkError(int code, const std::string& description) {
  if (code == platform::kSockAborted || code == platform::kSockReset) {
    DisconnectLink(false);
    ReportState(false, "connection lost: " + description);
  }
}

void LinkSession::ReportState(bool up, const std::string& reason) {
  if (!hooks_.onLinkState) return;
  try {
    hooks_.onLinkState(up, reason);
  } catch (...) {
  }
}

void LinkSession::SuperviseLink() {
  try {
    if (handle() == -1 || !connected()) {
      DisconnectLink(false);
      ConnectLink();
    } else {
      SendKeepAlive();
    }
  } catch (...) {
  }
}

}  // namespace pv::link
