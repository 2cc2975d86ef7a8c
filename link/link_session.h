// The server link: one TCP connection to the central server. Outbound
// messages are queued in a send buffer and written in chunks of at most 1024
// bytes as the socket accepts them; the inbound stream is cut into messages
// at the delimiter ":tPVStr" and each complete message goes to the
// dispatcher hook. A supervision timer sends the keepalive "PVTE" while the
// link is up and reconnects when it is down. Text is UTF-8 inside and
// Windows-1252 on the wire.
//
// Everything runs on the io_context's thread. Host resolution and connect
// are asynchronous; the link counts as up once the connect has completed.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/cconcat.h"
#include "common/log_fn.h"
#include "platform/timer.h"

namespace pv::link {

inline constexpr std::string_view kDelimiter = ":tPVStr";
inline constexpr std::string_view kKeepAliveWord = "PVTE";
inline constexpr std::size_t kWriteChunk = 1024;
// More than this many bytes without a delimiter drops the link.
inline constexpr std::size_t kMaxPendingBytes = 1024 * 1024;
inline constexpr std::chrono::milliseconds kSupervisionInterval{60000};

// Cuts a byte stream into messages at the delimiter. Bytes are appended as
// they arrive; Next() hands out complete messages in order, removing each
// (and its delimiter) from the front before returning it. Searching resumes
// where the last search stopped, so a long message arriving in small pieces
// is scanned once.
class ReceiveFramer {
 public:
  explicit ReceiveFramer(std::size_t limit = kMaxPendingBytes) : limit_(limit) {}

  void Append(std::string_view bytes);
  // The next complete message (wire bytes, delimiter removed); false when the
  // buffer holds no delimiter.
  bool Next(std::string& message);
  // More than the limit is waiting without a delimiter.
  bool Overflowed() const;
  std::size_t pending() const { return static_cast<std::size_t>(buffer_.Length()); }
  void Clear();

 private:
  common::CConCat buffer_;
  std::size_t limit_;
  std::size_t searchFrom_ = 0;  // offset in the text before which no delimiter starts
};

struct LinkHooks {
  // A complete inbound message, UTF-8 (the dispatcher).
  std::function<void(const std::string& message)> onMessage;
  // Every disconnect stops the host's update-queue timer through this.
  std::function<void()> onStopUpdateQueue;
  // One log line (WriteLog's arguments); used for the oversize guard.
  common::LogFn log;
  // The link came up (`up`, reason empty), or a connect failed or a link
  // that was up dropped (the reason in words). A disconnect the host asks
  // for is not reported: the host knows why.
  std::function<void(bool up, const std::string& reason)> onLinkState;
};

class LinkSession {
 public:
  LinkSession(asio::io_context& io, std::string host, std::string port, LinkHooks hooks,
              std::chrono::milliseconds supervisionInterval = kSupervisionInterval);
  ~LinkSession();
  LinkSession(const LinkSession&) = delete;
  LinkSession& operator=(const LinkSession&) = delete;

  // (Re)opens the connection and switches supervision on.
  void ConnectLink();
  // Closes the socket, stops the update-queue timer, clears both buffers;
  // with `stopSupervision` also stops the supervision timer.
  void DisconnectLink(bool stopSupervision);
  void ClearLinkBuffers();
  // Queues `text` (UTF-8) and starts sending. Empty text sends nothing.
  void SendMessage(const std::string& text, bool withOkPrefix = false,
                   bool withoutDelimiter = false);
  // Writes as much of the send buffer as the socket accepts.
  void FlushSend();
  void SendKeepAlive();
  // Reads everything the socket holds and dispatches every complete message.
  void OnLinkReadable();
  // 10053 and 10054 drop the link; every other code is ignored.
  void OnLinkError(int code, const std::string& description);
  // Supervision tick: keepalive while up, reconnect while down.
  void SuperviseLink();

  // The receive path after the socket read: appends wire bytes, dispatches
  // every complete message, and drops the link when too much arrives
  // without a delimiter. False when the link was dropped or replaced on the
  // way (by a handler or the guard). Usable without a socket.
  bool ReceiveBytes(std::string_view wireBytes);

  // The connect has completed and the socket has not been closed since.
  bool connected() const { return state_ == State::Connected; }
  // A resolve or connect is under way.
  bool connecting() const { return state_ == State::Connecting; }
  // The socket's descriptor, -1 when there is none.
  int handle() const;
  // Bytes waiting in the send buffer / the receive buffer.
  std::size_t sendQueueLength() const { return static_cast<std::size_t>(send_.Length()); }
  std::size_t receiveBufferLength() const { return receive_.pending(); }
  platform::Timer& socketTimer() { return socketTimer_; }
  const std::string& host() const { return host_; }
  const std::string& port() const { return port_; }

 private:
  enum class State { Down, Connecting, Connected };

  void CloseSocket();
  void ReportState(bool up, const std::string& reason);
  void OnResolved(std::uint64_t generation, const std::error_code& ec,
                  const asio::ip::tcp::resolver::results_type& results);
  void OnConnected(std::uint64_t generation, const std::error_code& ec);
  void WaitReadable();
  void WaitWritable();
  void Dispatch(const std::string& wireMessage, std::string& text);

  std::string host_;
  std::string port_;
  LinkHooks hooks_;
  asio::ip::tcp::resolver resolver_;
  asio::ip::tcp::socket socket_;
  platform::Timer socketTimer_;
  ReceiveFramer receive_;
  common::CConCat send_;
  State state_ = State::Down;
  std::uint64_t generation_ = 0;  // bumped whenever the socket is closed or replaced
  std::string scratchMessage_;
  std::string scratchText_;
  bool readWaitPending_ = false;
  bool writeWaitPending_ = false;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace pv::link
