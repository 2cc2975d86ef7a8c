#include "tools/pvcentral/console.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <utility>

#include "common/cp1252.h"
#include "common/text.h"

namespace pv::central {
namespace {

// Received messages kept for "received" and "wait" (by count and by bytes);
// older ones are dropped.
constexpr std::size_t kKeepReceived = 100000;
constexpr std::size_t kKeepReceivedBytes = 16 << 20;
constexpr int kDefaultWaitSeconds = 30;
// Width of the lines of the "help" list.
constexpr std::size_t kHelpWidth = 80;

}  // namespace

struct Console::Waiter {
  explicit Waiter(asio::io_context& io) : timer(io) {}
  std::string prefix;
  std::uint64_t after = 0;
  int target = 0;
  Reply reply;
  asio::steady_timer timer;
  bool done = false;
};

const std::vector<Console::Verb>& Console::Verbs() {
  static const std::vector<Verb> verbs = {
      {"send", "send WORD [ARG]", true, &Console::SendWord},
      {"datr", "datr", true, &Console::SendOrder},
      {"rpid", "rpid", true, &Console::SendOrder},
      {"conn", "conn", true, &Console::SendOrder},
      {"bdid", "bdid", true, &Console::SendOrder},
      {"pvte", "pvte", true, &Console::SendOrder},
      {"vdid", "vdid [ID]", true, &Console::Vdid},
      {"dbin", "dbin [FIELDS]", true, &Console::Dbin},
      {"upda", "upda [FIELDS]", true, &Console::Upda},
      {"raw", "raw TEXT", true, &Console::Raw},
      {"rawpart", "rawpart TEXT", true, &Console::Raw},
      {"drop", "drop", true, &Console::Drop},
      {"stall", "stall SECONDS", true, &Console::Stall},
      {"list", "list", false, &Console::List},
      {"received", "received [N]", false, &Console::Received},
      {"mark", "mark", false, &Console::Mark},
      {"wait", "wait TEXT [SECONDS]", false, &Console::Wait},
      {"quit", "quit", false, &Console::Quit},
      {"help", "help", false, &Console::Help},
  };
  return verbs;
}

// The usages of the table separated by " | ", in lines of at most kHelpWidth
// characters.
std::string Console::HelpList() {
  std::string out;
  std::string line;
  const auto& verbs = Verbs();
  for (std::size_t i = 0; i < verbs.size(); ++i) {
    const std::string piece = std::string(verbs[i].usage) + (i + 1 < verbs.size() ? " |" : "");
    if (!line.empty() && line.size() + 1 + piece.size() > kHelpWidth) {
      out += line + '\n';
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += piece;
  }
  return out + line + "   (prefix @N to act on connection N only;\npvcentral --help explains each)";
}

Console::Console(asio::io_context& io, LinkServer& link, ActivityLog& log, InstallationStore& store)
    : io_(io), link_(link), log_(log), store_(store) {
  link_.SetMessageObserver(
      [this](int connection, const std::string& text) { OnMessage(connection, text); });
}

Console::~Console() { link_.SetMessageObserver(nullptr); }

void Console::Execute(const std::string& line, Reply reply) {
  const std::optional<Command> parsed = ParseCommand(line);
  if (!parsed) {
    reply(false, "empty or malformed command (try: help)");
    return;
  }
  if (shutDown_) {
    reply(false, "the simulator is stopping");
    return;
  }
  const auto& verbs = Verbs();
  const auto verb = std::find_if(verbs.begin(), verbs.end(),
                                 [&](const Verb& v) { return parsed->verb == v.name; });
  // Commands that act on the connections are logged, and so is a word that
  // is none of the verbs.
  if (verb == verbs.end() || verb->logged) log_.Event(0, "command: " + line);
  if (verb == verbs.end()) {
    reply(false, "unknown command: " + parsed->verb + " (try: help)");
    return;
  }
  (this->*verb->run)(*parsed, reply);
}

void Console::OnMessage(int connection, const std::string& text) {
  received_.push_back(ReceivedMessage{++receivedCount_, connection, text});
  receivedBytes_ += text.size();
  NotifyWaiters(received_.back());
  while (received_.size() > 1 &&
         (received_.size() > kKeepReceived || receivedBytes_ > kKeepReceivedBytes)) {
    receivedBytes_ -= received_.front().text.size();
    received_.pop_front();
  }
}

std::vector<LinkConnection> Console::Targets(int target, std::string& error) const {
  std::vector<LinkConnection> out = link_.Connections();
  if (target != 0) {
    std::erase_if(out, [target](const LinkConnection& c) { return c.id != target; });
    if (out.empty()) error = "no connection " + std::to_string(target);
    return out;
  }
  if (out.empty()) error = "no service is connected";
  return out;
}

bool Console::SendToTargets(int target, const std::string& text, std::string& reply) {
  std::string error;
  const auto targets = Targets(target, error);
  if (targets.empty()) {
    reply = error;
    return false;
  }
  reply = "sent to connection";
  for (std::size_t i = 0; i < targets.size(); ++i) {
    link_.Send(targets[i].id, text);
    reply += (i == 0 ? " " : ", ") + std::to_string(targets[i].id);
  }
  return true;
}

void Console::Help(const Command&, Reply& reply) {
  static const std::string list = HelpList();
  reply(true, list);
}

void Console::List(const Command&, Reply& reply) {
  std::string text;
  for (const LinkConnection& c : link_.Connections()) {
    if (!text.empty()) text += '\n';
    text += "[" + std::to_string(c.id) + "] " + c.peer + " key=" + (c.key.empty() ? "-" : c.key) +
            " installation=" + (c.installationId.empty() ? "-" : c.installationId);
  }
  reply(true, text.empty() ? "no connections" : text);
}

void Console::Received(const Command& c, Reply& reply) {
  std::uint64_t from = 0;
  if (!c.arg.empty()) {
    const auto* end = c.arg.data() + c.arg.size();
    const auto [p, ec] = std::from_chars(c.arg.data(), end, from);
    if (ec != std::errc() || p != end) {
      reply(false, "received takes a message number");
      return;
    }
  }
  std::string text;
  for (const ReceivedMessage& m : received_) {
    if (m.seq < from || (c.target != 0 && m.connection != c.target)) continue;
    if (!text.empty()) text += '\n';
    text +=
        std::to_string(m.seq) + " [" + std::to_string(m.connection) + "] " + EscapeForLog(m.text);
  }
  reply(true, text);
}

void Console::Mark(const Command&, Reply& reply) {
  StartWindow();
  reply(true, "mark " + std::to_string(mark_));
}

void Console::Quit(const Command&, Reply& reply) {
  reply(true, "stopping");
  if (onQuit_) asio::post(io_, onQuit_);
}

void Console::SendWord(const Command& c, Reply& reply) {
  if (c.arg.empty()) {
    reply(false, "send needs a command word, e.g. send DATR");
    return;
  }
  StartWindow();
  std::string text;
  const bool ok = SendToTargets(c.target, "+OK " + c.arg, text);
  reply(ok, text);
}

void Console::SendOrder(const Command& c, Reply& reply) {
  StartWindow();
  std::string text;
  const bool ok = SendToTargets(
      c.target, "+OK " + common::AsciiUpper(c.verb) + (c.arg.empty() ? "" : " " + c.arg), text);
  reply(ok, text);
}

void Console::Dbin(const Command& c, Reply& reply) {
  StartWindow();
  std::string text;
  const bool ok =
      SendToTargets(c.target, "+OK DBIN " + (c.arg.empty() ? link_.DbinFields() : c.arg), text);
  reply(ok, text);
}

void Console::Vdid(const Command& c, Reply& reply) {
  std::string error;
  const auto targets = Targets(c.target, error);
  bool ok = !targets.empty();
  std::string text = ok ? "sent to connection" : error;
  StartWindow();
  for (const LinkConnection& t : targets) {
    const std::string& id = c.arg.empty() ? t.installationId : c.arg;
    if (id.empty()) {
      ok = false;
      text =
          "connection " + std::to_string(t.id) + " has no installation id yet (give one: vdid ID)";
      break;
    }
    link_.Send(t.id, "+OK VDID " + id);
    text += " " + std::to_string(t.id);
  }
  reply(ok, text);
}

void Console::Upda(const Command& c, Reply& reply) {
  if (!c.arg.empty()) {
    StartWindow();
    std::string text;
    const bool ok = SendToTargets(c.target, "+OK UPDA " + c.arg, text);
    reply(ok, text);
    return;
  }
  // The connections' own queued central changes.
  std::string text;
  const auto targets = Targets(c.target, text);
  bool ok = !targets.empty();
  StartWindow();
  for (const LinkConnection& t : targets) {
    std::vector<UpdateOrder> orders;
    try {
      orders = store_.UpdateOrders(t.installationId);
    } catch (const std::exception& e) {
      ok = false;
      text = std::string("home database: ") + e.what();
      break;
    }
    for (const UpdateOrder& o : orders) link_.Send(t.id, "+OK UPDA " + o.Text());
    if (!text.empty()) text += '\n';
    text +=
        std::to_string(orders.size()) + " UPDA order(s) sent to connection " + std::to_string(t.id);
  }
  reply(ok, text);
}

void Console::Raw(const Command& c, Reply& reply) {
  std::string error;
  const std::optional<std::string> bytes = Unescape(c.arg, error, &common::Utf8ToCp1252);
  if (!bytes || bytes->empty()) {
    reply(false, bytes ? c.verb + " needs a text" : error);
    return;
  }
  const auto targets = Targets(c.target, error);
  const bool ok = !targets.empty();
  std::string text = ok ? "sent to connection" : error;
  StartWindow();
  for (const LinkConnection& t : targets) {
    link_.SendBytes(t.id, *bytes, c.verb == "raw");
    text += " " + std::to_string(t.id);
  }
  reply(ok, text);
}

void Console::Drop(const Command& c, Reply& reply) {
  std::string error;
  const auto targets = Targets(c.target, error);
  for (const LinkConnection& t : targets) link_.Close(t.id, "dropped by the operator");
  const bool ok = !targets.empty();
  reply(ok, ok ? "closed " + std::to_string(targets.size()) + " connection(s)" : error);
}

void Console::Stall(const Command& c, Reply& reply) {
  int seconds = 0;
  const auto* end = c.arg.data() + c.arg.size();
  const auto [p, ec] = std::from_chars(c.arg.data(), end, seconds);
  if (c.arg.empty() || ec != std::errc() || p != end || seconds < 1 || seconds > 3600) {
    reply(false, "stall needs a number of seconds from 1 to 3600");
    return;
  }
  std::string error;
  const auto targets = Targets(c.target, error);
  for (const LinkConnection& t : targets) link_.Stall(t.id, seconds);
  const bool ok = !targets.empty();
  reply(ok, ok ? "not reading " + std::to_string(targets.size()) + " connection(s) for " +
                     std::to_string(seconds) + " s"
               : error);
}

void Console::Wait(const Command& c, Reply& reply) {
  const std::string& arg = c.arg;
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
    if (m.seq > mark_ && (c.target == 0 || m.connection == c.target) &&
        m.text.compare(0, prefix.size(), prefix) == 0) {
      reply(true, "[" + std::to_string(m.connection) + "] " + EscapeForLog(m.text));
      return;
    }
  }
  auto w = std::make_shared<Waiter>(io_);
  w->prefix = prefix;
  w->after = mark_;
  w->target = c.target;
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

void Console::NotifyWaiters(const ReceivedMessage& m) {
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

void Console::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  link_.Shutdown();
  const auto waiters = waiters_;
  waiters_.clear();
  for (const auto& w : waiters) {
    if (w->done) continue;
    w->done = true;
    w->timer.cancel();
    w->reply(false, "the simulator is stopping");
  }
}

}  // namespace pv::central
