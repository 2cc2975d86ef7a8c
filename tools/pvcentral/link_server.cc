#include "tools/pvcentral/link_server.h"

#include <array>
#include <deque>
#include <random>
#include <utility>

#include "common/cp1252.h"
#include "common/text.h"
#include "tools/pvcentral/framer.h"

namespace pv::central {

// The wire is Windows-1252, the simulator's text UTF-8: every message is
// converted at the socket boundary, as the service does on its side.
using common::Cp1252ToUtf8;
using common::Utf8ToCp1252;

namespace {

// Output queued for a peer that does not read; beyond it the peer is dropped.
constexpr std::size_t kMaxOutbox = 4 << 20;
constexpr std::size_t kMaxKeyLength = 50;

std::size_t CharacterCount(const std::string& utf8) {
  std::size_t n = 0;
  for (char c : utf8) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  }
  return n;
}

bool HasControlCharacter(const std::string& text) {
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return true;
  }
  return false;
}

}  // namespace

struct LinkServer::Session {
  Session(int id, asio::ip::tcp::socket s, std::size_t maxPending)
      : socket(std::move(s)), framer(maxPending), stallTimer(socket.get_executor()) {
    info.id = id;
  }
  LinkConnection info;
  asio::ip::tcp::socket socket;
  Framer framer;
  std::array<char, 16384> buffer{};
  std::deque<std::string> outbox;
  std::size_t outboxBytes = 0;
  bool writing = false;
  bool open = true;
  std::uint64_t discarded = 0;    // bytes dropped since the last complete message
  asio::steady_timer stallTimer;  // expiry: the end of an operator's "stall"
  std::string held;               // received during a stall, not yet handled
};

std::string RandomKey() {
  std::random_device source;
  std::uniform_int_distribution<int> letter(0, 25);
  std::string key;
  for (std::size_t i = 0; i < kMaxKeyLength; ++i) key += static_cast<char>('A' + letter(source));
  return key;
}

LinkServer::LinkServer(asio::io_context& io, const Options& options, ActivityLog& log,
                       InstallationStore& store)
    : io_(io), options_(options), log_(log), store_(store), acceptor_(io) {}

LinkServer::~LinkServer() = default;

std::string LinkServer::DbinFields() const {
  const CentralInstance& c = options_.central;
  std::string s = c.user;
  for (const std::string* f : {&c.password, &c.server, &c.homeDatabase, &c.port, &c.extra}) {
    s += common::kFieldSeparator;
    s += *f;
  }
  return s;
}

void LinkServer::Listen() {
  const asio::ip::tcp::endpoint ep(asio::ip::make_address(options_.bind),
                                   static_cast<unsigned short>(options_.port));
  acceptor_.open(ep.protocol());
  acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true));
  acceptor_.bind(ep);
  acceptor_.listen();
  port_ = acceptor_.local_endpoint().port();
  Accept();
}

void LinkServer::Accept() {
  acceptor_.async_accept([this](std::error_code ec, asio::ip::tcp::socket socket) {
    if (shutDown_ || !acceptor_.is_open()) return;
    if (ec) {
      // Out of descriptors and the like: say so and try again a moment later.
      log_.Event(0, "accept failed: " + ec.message());
      auto retry = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(200));
      retry->async_wait([this, retry](std::error_code) {
        if (!shutDown_) Accept();
      });
      return;
    }
    auto s = std::make_shared<Session>(nextId_++, std::move(socket), options_.maxPending);
    std::error_code peerError;
    const auto peer = s->socket.remote_endpoint(peerError);
    s->info.peer = peerError ? std::string("?")
                             : peer.address().to_string() + ":" + std::to_string(peer.port());
    sessions_[s->info.id] = s;
    log_.Event(s->info.id, "connected " + s->info.peer);
    Send(s, "+OK CONN");
    StartRead(s);
    Accept();
  });
}

void LinkServer::StartRead(const std::shared_ptr<Session>& s) {
  s->socket.async_read_some(asio::buffer(s->buffer), [this, s](std::error_code ec, std::size_t n) {
    if (!s->open) return;
    if (ec) {
      Close(s, ec == asio::error::eof ? "closed by the peer" : ec.message());
      return;
    }
    if (s->stallTimer.expiry() > asio::steady_timer::clock_type::now()) {
      // Stalled: keep what came and read no more until the stall ends.
      s->held.append(s->buffer.data(), n);
      s->stallTimer.async_wait([this, s](std::error_code) { ReadAfterStall(s); });
      return;
    }
    Handle(s, std::string_view(s->buffer.data(), n));
    if (s->open) StartRead(s);
  });
}

void LinkServer::ReadAfterStall(const std::shared_ptr<Session>& s) {
  if (!s->open) return;
  if (s->stallTimer.expiry() > asio::steady_timer::clock_type::now()) {
    // Stalled again meanwhile: the new expiry's wait resumes reading.
    s->stallTimer.async_wait([this, s](std::error_code) { ReadAfterStall(s); });
    return;
  }
  log_.Event(s->info.id, "reading again after the stall");
  const std::string held = std::exchange(s->held, std::string());
  Handle(s, held);
  if (s->open) StartRead(s);
}

void LinkServer::Handle(const std::shared_ptr<Session>& s, std::string_view bytes) {
  const int id = s->info.id;
  Framer::Result r = s->framer.Feed(bytes);
  if (r.discarded > 0) {
    if (s->discarded == 0) {
      log_.Event(id, "more than " + std::to_string(options_.maxPending) +
                         " bytes without a delimiter: dropping the oldest");
    }
    s->discarded += r.discarded;
  }
  if (!r.messages.empty() && s->discarded > 0) {
    log_.Event(id,
               "dropped " + std::to_string(s->discarded) + " bytes received without a delimiter");
    s->discarded = 0;
  }
  for (const std::string& m : r.messages) {
    OnMessage(s, Cp1252ToUtf8(m));
    if (!s->open) return;
  }
}

void LinkServer::Stall(int connection, int seconds) {
  const auto s = Find(connection);
  if (!s) return;
  // Only the expiry moves: a read that completes before it is held
  // (StartRead), one pending wait resumes reading.
  s->stallTimer.expires_after(std::chrono::seconds(seconds));
  log_.Event(connection, "not reading for " + std::to_string(seconds) + " s");
}

void LinkServer::OnMessage(const std::shared_ptr<Session>& s, const std::string& message) {
  log_.Received(s->info.id, message);
  if (observer_) observer_(s->info.id, message);

  const std::string_view m = message;
  if (m.substr(0, 5) == "NWID ") {
    Identify(s, message.substr(5), true);
  } else if (m.substr(0, 5) == "PVID ") {
    Identify(s, message.substr(5), false);
  } else if (m == "NWID" || m == "PVID") {
    log_.Event(s->info.id, "ignored " + message + ": no key");
  }
}

void LinkServer::Identify(const std::shared_ptr<Session>& s, const std::string& key, bool isNew) {
  const char* word = isNew ? "NWID" : "PVID";
  if (key.empty() || CharacterCount(key) > kMaxKeyLength || HasControlCharacter(key)) {
    log_.Event(s->info.id, std::string("ignored ") + word +
                               ": the key must be 1 to 50 characters without control characters");
    return;
  }
  const std::string assigned = isNew && options_.newKeys ? RandomKey() : key;
  std::string id;
  try {
    id = store_.Identify(assigned);
  } catch (const std::exception& e) {
    log_.Event(s->info.id,
               std::string("home database failed, no answer to ") + word + ": " + e.what());
    return;
  }
  s->info.key = assigned;
  s->info.installationId = id;
  log_.Event(s->info.id, "installation " + id);
  if (isNew) Send(s, "+OK INID " + assigned);
  if (options_.autoVdid) Send(s, "+OK VDID " + id);
  if (options_.autoDbin) Send(s, "+OK DBIN " + DbinFields());
}

std::shared_ptr<LinkServer::Session> LinkServer::Find(int connection) const {
  const auto it = sessions_.find(connection);
  return it == sessions_.end() ? nullptr : it->second;
}

std::vector<LinkConnection> LinkServer::Connections() const {
  std::vector<LinkConnection> out;
  for (const auto& [id, s] : sessions_) out.push_back(s->info);
  return out;
}

void LinkServer::Send(int connection, const std::string& text) {
  if (const auto s = Find(connection)) Send(s, text);
}

void LinkServer::SendBytes(int connection, const std::string& bytes, bool framed) {
  const auto s = Find(connection);
  if (!s) return;
  if (framed) {
    log_.Sent(connection, Cp1252ToUtf8(bytes));
    SendWire(s, Framer::Frame(bytes));
  } else {
    log_.Event(connection, "-> (no delimiter) " + Cp1252ToUtf8(bytes));
    SendWire(s, bytes);
  }
}

void LinkServer::Close(int connection, const std::string& reason) {
  if (const auto s = Find(connection)) Close(s, reason);
}

void LinkServer::Send(const std::shared_ptr<Session>& s, const std::string& text) {
  if (!s->open) return;
  log_.Sent(s->info.id, text);
  SendWire(s, Framer::Frame(Utf8ToCp1252(text)));
}

void LinkServer::SendWire(const std::shared_ptr<Session>& s, std::string bytes) {
  if (!s->open || bytes.empty()) return;
  if (s->outboxBytes + bytes.size() > kMaxOutbox) {
    Close(s, "the peer does not read what is sent to it");
    return;
  }
  s->outboxBytes += bytes.size();
  s->outbox.push_back(std::move(bytes));
  Flush(s);
}

void LinkServer::Flush(const std::shared_ptr<Session>& s) {
  if (s->writing || s->outbox.empty()) return;
  s->writing = true;
  asio::async_write(s->socket, asio::buffer(s->outbox.front()),
                    [this, s](std::error_code ec, std::size_t) {
                      s->writing = false;
                      if (!s->open) return;
                      if (ec) {
                        Close(s, "write failed: " + ec.message());
                        return;
                      }
                      s->outboxBytes -= s->outbox.front().size();
                      s->outbox.pop_front();
                      Flush(s);
                    });
}

void LinkServer::Close(const std::shared_ptr<Session>& s, const std::string& reason) {
  if (!s->open) return;
  s->open = false;
  std::error_code ignored;
  s->stallTimer.cancel();
  s->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  s->socket.close(ignored);
  sessions_.erase(s->info.id);
  log_.Event(s->info.id, "disconnected: " + reason);
}

void LinkServer::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  std::error_code ignored;
  acceptor_.close(ignored);
  const auto sessions = sessions_;
  for (const auto& [id, s] : sessions) Close(s, "simulator stopping");
}

}  // namespace pv::central
