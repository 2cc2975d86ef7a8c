#include "tools/pvcentral/central_server.h"

#include <array>
#include <charconv>
#include <random>
#include <utility>

#include "common/cp1252.h"
#include "tools/pvcentral/command.h"
#include "tools/pvcentral/framer.h"

namespace pv::central {

// The wire is Windows-1252, the simulator's text UTF-8: every message is
// converted at the socket boundary, as the service does on its side.
using common::Cp1252ToUtf8;
using common::Utf8ToCp1252;

namespace {

// Received messages kept for "received" and "wait" (by count and by bytes);
// older ones are dropped.
constexpr std::size_t kKeepReceived = 100000;
constexpr std::size_t kKeepReceivedBytes = 16 << 20;
// Output queued for a peer that does not read; beyond it the peer is dropped.
constexpr std::size_t kMaxOutbox = 4 << 20;
constexpr std::size_t kMaxKeyLength = 50;
constexpr int kDefaultWaitSeconds = 30;

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

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

const char* kCommandHelp =
    "send WORD [ARG] | datr | rpid | conn | bdid | pvte | vdid [ID] | dbin [FIELDS] |\n"
    "upda [FIELDS] | raw TEXT | rawpart TEXT | drop | list | received [N] | mark |\n"
    "wait TEXT [SECONDS] | quit | help   (prefix @N to act on connection N only;\n"
    "pvcentral --help explains each)";

}  // namespace

struct CentralServer::Session {
  Session(int id, asio::ip::tcp::socket s, std::size_t maxPending)
      : id(id), socket(std::move(s)), framer(maxPending) {}
  int id;
  asio::ip::tcp::socket socket;
  Framer framer;
  std::array<char, 16384> buffer{};
  std::deque<std::string> outbox;
  std::size_t outboxBytes = 0;
  bool writing = false;
  bool open = true;
  std::string peer;
  std::string key;
  std::string installationId;
  std::uint64_t discarded = 0;  // bytes dropped since the last complete message
};

struct CentralServer::Waiter {
  explicit Waiter(asio::io_context& io) : timer(io) {}
  std::string prefix;
  std::uint64_t after = 0;
  int target = 0;
  Reply reply;
  asio::steady_timer timer;
  bool done = false;
};

std::string RandomKey() {
  std::random_device source;
  std::uniform_int_distribution<int> letter(0, 25);
  std::string key;
  for (std::size_t i = 0; i < kMaxKeyLength; ++i) key += static_cast<char>('A' + letter(source));
  return key;
}

CentralServer::CentralServer(asio::io_context& io, const Options& options, ActivityLog& log,
                             InstallationStore& store)
    : io_(io), options_(options), log_(log), store_(store), acceptor_(io) {}

CentralServer::~CentralServer() = default;

std::string CentralServer::DbinFields() const {
  const CentralInstance& c = options_.central;
  std::string s = c.user;
  for (const std::string* f : {&c.password, &c.server, &c.homeDatabase, &c.port, &c.extra}) {
    s += kSectionSign;
    s += *f;
  }
  return s;
}

void CentralServer::Listen() {
  const asio::ip::tcp::endpoint ep(asio::ip::make_address(options_.bind),
                                   static_cast<unsigned short>(options_.port));
  acceptor_.open(ep.protocol());
  acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true));
  acceptor_.bind(ep);
  acceptor_.listen();
  port_ = acceptor_.local_endpoint().port();
  Accept();
}

void CentralServer::Accept() {
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
    s->peer = peerError ? std::string("?")
                        : peer.address().to_string() + ":" + std::to_string(peer.port());
    sessions_[s->id] = s;
    log_.Event(s->id, "connected " + s->peer);
    Send(s, "+OK CONN");
    StartRead(s);
    Accept();
  });
}

void CentralServer::StartRead(const std::shared_ptr<Session>& s) {
  s->socket.async_read_some(asio::buffer(s->buffer), [this, s](std::error_code ec, std::size_t n) {
    if (!s->open) return;
    if (ec) {
      Close(s, ec == asio::error::eof ? "closed by the peer" : ec.message());
      return;
    }
    Framer::Result r = s->framer.Feed(std::string_view(s->buffer.data(), n));
    if (r.discarded > 0) {
      if (s->discarded == 0) {
        log_.Event(s->id, "more than " + std::to_string(options_.maxPending) +
                              " bytes without a delimiter: dropping the oldest");
      }
      s->discarded += r.discarded;
    }
    if (!r.messages.empty() && s->discarded > 0) {
      log_.Event(s->id,
                 "dropped " + std::to_string(s->discarded) + " bytes received without a delimiter");
      s->discarded = 0;
    }
    for (const std::string& m : r.messages) {
      OnMessage(s, Cp1252ToUtf8(m));
      if (!s->open) return;
    }
    StartRead(s);
  });
}

void CentralServer::OnMessage(const std::shared_ptr<Session>& s, const std::string& message) {
  log_.Received(s->id, message);
  received_.push_back(ReceivedMessage{++receivedCount_, s->id, message});
  receivedBytes_ += message.size();
  NotifyWaiters(received_.back());
  while (received_.size() > 1 &&
         (received_.size() > kKeepReceived || receivedBytes_ > kKeepReceivedBytes)) {
    receivedBytes_ -= received_.front().text.size();
    received_.pop_front();
  }

  const std::string_view m = message;
  if (m.substr(0, 5) == "NWID ") {
    Identify(s, message.substr(5), true);
  } else if (m.substr(0, 5) == "PVID ") {
    Identify(s, message.substr(5), false);
  } else if (m == "NWID" || m == "PVID") {
    log_.Event(s->id, "ignored " + message + ": no key");
  }
}

void CentralServer::Identify(const std::shared_ptr<Session>& s, const std::string& key,
                             bool isNew) {
  const char* word = isNew ? "NWID" : "PVID";
  if (key.empty() || CharacterCount(key) > kMaxKeyLength || HasControlCharacter(key)) {
    log_.Event(s->id, std::string("ignored ") + word +
                          ": the key must be 1 to 50 characters without control characters");
    return;
  }
  const std::string assigned = isNew && options_.newKeys ? RandomKey() : key;
  std::string id;
  try {
    id = store_.Identify(assigned);
  } catch (const std::exception& e) {
    log_.Event(s->id, std::string("home database failed, no answer to ") + word + ": " + e.what());
    return;
  }
  s->key = assigned;
  s->installationId = id;
  log_.Event(s->id, "installation " + id);
  if (isNew) Send(s, "+OK INID " + assigned);
  if (options_.autoVdid) Send(s, "+OK VDID " + id);
  if (options_.autoDbin) Send(s, "+OK DBIN " + DbinFields());
}

void CentralServer::Send(const std::shared_ptr<Session>& s, const std::string& text) {
  if (!s->open) return;
  log_.Sent(s->id, text);
  SendWire(s, Framer::Frame(Utf8ToCp1252(text)));
}

void CentralServer::SendWire(const std::shared_ptr<Session>& s, std::string bytes) {
  if (!s->open || bytes.empty()) return;
  if (s->outboxBytes + bytes.size() > kMaxOutbox) {
    Close(s, "the peer does not read what is sent to it");
    return;
  }
  s->outboxBytes += bytes.size();
  s->outbox.push_back(std::move(bytes));
  Flush(s);
}

void CentralServer::Flush(const std::shared_ptr<Session>& s) {
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

void CentralServer::Close(const std::shared_ptr<Session>& s, const std::string& reason) {
  if (!s->open) return;
  s->open = false;
  std::error_code ignored;
  s->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  s->socket.close(ignored);
  sessions_.erase(s->id);
  log_.Event(s->id, "disconnected: " + reason);
}

std::vector<std::shared_ptr<CentralServer::Session>> CentralServer::Targets(
    int target, std::string& error) const {
  std::vector<std::shared_ptr<Session>> out;
  if (target != 0) {
    const auto it = sessions_.find(target);
    if (it == sessions_.end()) {
      error = "no connection " + std::to_string(target);
    } else {
      out.push_back(it->second);
    }
    return out;
  }
  for (const auto& [id, s] : sessions_) out.push_back(s);
  if (out.empty()) error = "no service is connected";
  return out;
}

bool CentralServer::SendToTargets(int target, const std::string& text, std::string& reply) {
  std::string error;
  const auto targets = Targets(target, error);
  if (targets.empty()) {
    reply = error;
    return false;
  }
  reply = "sent to connection";
  for (std::size_t i = 0; i < targets.size(); ++i) {
    Send(targets[i], text);
    reply += (i == 0 ? " " : ", ") + std::to_string(targets[i]->id);
  }
  return true;
}

void CentralServer::Execute(const std::string& line, Reply reply) {
  const std::optional<Command> parsed = ParseCommand(line);
  if (!parsed) {
    reply(false, "empty or malformed command (try: help)");
    return;
  }
  const Command& c = *parsed;
  if (shutDown_) {
    reply(false, "the simulator is stopping");
    return;
  }
  std::string text;
  std::string error;
  const std::string& v = c.verb;

  if (v == "help") {
    reply(true, kCommandHelp);
    return;
  }
  if (v == "list") {
    for (const auto& [id, s] : sessions_) {
      if (!text.empty()) text += '\n';
      text += "[" + std::to_string(id) + "] " + s->peer +
              " key=" + (s->key.empty() ? "-" : s->key) +
              " installation=" + (s->installationId.empty() ? "-" : s->installationId);
    }
    reply(true, text.empty() ? "no connections" : text);
    return;
  }
  if (v == "received") {
    std::uint64_t from = 0;
    if (!c.arg.empty()) {
      const auto* end = c.arg.data() + c.arg.size();
      const auto [p, ec] = std::from_chars(c.arg.data(), end, from);
      if (ec != std::errc() || p != end) {
        reply(false, "received takes a message number");
        return;
      }
    }
    for (const ReceivedMessage& m : received_) {
      if (m.seq < from || (c.target != 0 && m.connection != c.target)) continue;
      if (!text.empty()) text += '\n';
      text +=
          std::to_string(m.seq) + " [" + std::to_string(m.connection) + "] " + EscapeForLog(m.text);
    }
    reply(true, text);
    return;
  }
  if (v == "mark") {
    mark_ = receivedCount_;
    reply(true, "mark " + std::to_string(mark_));
    return;
  }
  if (v == "wait") {
    Wait(c.target, c.arg, std::move(reply));
    return;
  }
  if (v == "quit") {
    reply(true, "stopping");
    if (onQuit_) asio::post(io_, onQuit_);
    return;
  }

  // Everything below sends something: "wait" then looks at what comes after.
  log_.Event(0, "command: " + line);
  bool ok = false;
  if (v == "send") {
    if (c.arg.empty()) {
      reply(false, "send needs a command word, e.g. send DATR");
      return;
    }
    mark_ = receivedCount_;
    ok = SendToTargets(c.target, "+OK " + c.arg, text);
  } else if (v == "datr" || v == "rpid" || v == "conn" || v == "bdid" || v == "pvte") {
    mark_ = receivedCount_;
    ok = SendToTargets(c.target, "+OK " + Upper(v) + (c.arg.empty() ? "" : " " + c.arg), text);
  } else if (v == "dbin") {
    mark_ = receivedCount_;
    ok = SendToTargets(c.target, "+OK DBIN " + (c.arg.empty() ? DbinFields() : c.arg), text);
  } else if (v == "vdid") {
    const auto targets = Targets(c.target, error);
    ok = !targets.empty();
    text = ok ? "sent to connection" : error;
    mark_ = receivedCount_;
    for (const auto& s : targets) {
      const std::string& id = c.arg.empty() ? s->installationId : c.arg;
      if (id.empty()) {
        ok = false;
        text = "connection " + std::to_string(s->id) +
               " has no installation id yet (give one: vdid ID)";
        break;
      }
      Send(s, "+OK VDID " + id);
      text += " " + std::to_string(s->id);
    }
  } else if (v == "upda") {
    if (!c.arg.empty()) {
      mark_ = receivedCount_;
      ok = SendToTargets(c.target, "+OK UPDA " + c.arg, text);
    } else {
      const auto targets = Targets(c.target, error);
      ok = !targets.empty();
      text = error;
      mark_ = receivedCount_;
      for (const auto& s : targets) {
        std::vector<UpdateOrder> orders;
        try {
          orders = store_.UpdateOrders(s->installationId);
        } catch (const std::exception& e) {
          ok = false;
          text = std::string("home database: ") + e.what();
          break;
        }
        for (const UpdateOrder& o : orders) Send(s, "+OK UPDA " + o.Text());
        if (!text.empty()) text += '\n';
        text += std::to_string(orders.size()) + " UPDA order(s) sent to connection " +
                std::to_string(s->id);
      }
    }
  } else if (v == "raw" || v == "rawpart") {
    const std::optional<std::string> bytes = Unescape(c.arg, error, &Utf8ToCp1252);
    if (!bytes || bytes->empty()) {
      reply(false, bytes ? v + " needs a text" : error);
      return;
    }
    const auto targets = Targets(c.target, error);
    ok = !targets.empty();
    text = ok ? "sent to connection" : error;
    mark_ = receivedCount_;
    for (const auto& s : targets) {
      if (v == "raw") {
        log_.Sent(s->id, Cp1252ToUtf8(*bytes));
        SendWire(s, Framer::Frame(*bytes));
      } else {
        log_.Event(s->id, "-> (no delimiter) " + Cp1252ToUtf8(*bytes));
        SendWire(s, *bytes);
      }
      text += " " + std::to_string(s->id);
    }
  } else if (v == "drop") {
    const auto targets = Targets(c.target, error);
    for (const auto& s : targets) Close(s, "dropped by the operator");
    ok = !targets.empty();
    text = ok ? "closed " + std::to_string(targets.size()) + " connection(s)" : error;
  } else {
    reply(false, "unknown command: " + v + " (try: help)");
    return;
  }
  reply(ok, text);
}

void CentralServer::Wait(int target, const std::string& arg, Reply reply) {
  const std::size_t blank = arg.find(' ');
  const std::string prefix = arg.substr(0, blank);
  int seconds = kDefaultWaitSeconds;
  if (blank != std::string::npos) {
    const std::string rest = arg.substr(blank + 1);
    const auto* end = rest.data() + rest.size();
    const auto [p, ec] = std::from_chars(rest.data(), end, seconds);
    if (ec != std::errc() || p != end || seconds < 0 || seconds > 86400) {
      reply(false, "wait TEXT [SECONDS]: TEXT has no blanks, SECONDS is 0-86400");
      return;
    }
  }
  if (prefix.empty()) {
    reply(false, "wait needs the text a message starts with, e.g. wait DASN");
    return;
  }
  for (const ReceivedMessage& m : received_) {
    if (m.seq > mark_ && (target == 0 || m.connection == target) &&
        m.text.compare(0, prefix.size(), prefix) == 0) {
      reply(true, "[" + std::to_string(m.connection) + "] " + EscapeForLog(m.text));
      return;
    }
  }
  auto w = std::make_shared<Waiter>(io_);
  w->prefix = prefix;
  w->after = mark_;
  w->target = target;
  w->reply = std::move(reply);
  waiters_.push_back(w);
  w->timer.expires_after(std::chrono::seconds(seconds));
  w->timer.async_wait([this, w, seconds](std::error_code) {
    if (w->done) return;
    w->done = true;
    waiters_.remove(w);
    w->reply(false,
             "no message starting with " + w->prefix + " within " + std::to_string(seconds) + " s");
  });
}

void CentralServer::NotifyWaiters(const ReceivedMessage& m) {
  std::vector<std::shared_ptr<Waiter>> hit;
  for (const auto& w : waiters_) {
    if (!w->done && m.seq > w->after && (w->target == 0 || m.connection == w->target) &&
        m.text.compare(0, w->prefix.size(), w->prefix) == 0) {
      hit.push_back(w);
    }
  }
  for (const auto& w : hit) {
    w->done = true;
    w->timer.cancel();
    waiters_.remove(w);
    w->reply(true, "[" + std::to_string(m.connection) + "] " + EscapeForLog(m.text));
  }
}

void CentralServer::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  std::error_code ignored;
  acceptor_.close(ignored);
  const auto sessions = sessions_;
  for (const auto& [id, s] : sessions) Close(s, "simulator stopping");
  const auto waiters = waiters_;
  waiters_.clear();
  for (const auto& w : waiters) {
    if (w->done) continue;
    w->done = true;
    w->timer.cancel();
    w->reply(false, "the simulator is stopping");
  }
}

std::string UpdateOrder::Text() const {
  return id + kSectionSign + recordId + kSectionSign + kind + kSectionSign + itemId;
}

}  // namespace pv::central
