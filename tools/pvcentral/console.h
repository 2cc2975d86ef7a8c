// The operator's console: runs the commands typed on standard input or handed
// over by the control port ("[@N] verb [arg]"), keeps the messages received
// for "received" and "wait", and acts on the service's connections through
// the link server. Everything runs on the link server's io_context thread.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "tools/pvcentral/activity_log.h"
#include "tools/pvcentral/command.h"
#include "tools/pvcentral/installation_store.h"
#include "tools/pvcentral/link_server.h"

namespace pv::central {

class Console {
 public:
  // Called once per command with the outcome and the text to show (lines
  // separated by '\n', no trailing line end).
  using Reply = std::function<void(bool ok, const std::string& text)>;

  // Watches every message `link` receives from now on.
  Console(asio::io_context& io, LinkServer& link, ActivityLog& log, InstallationStore& store);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Runs one command line; `reply` is called exactly once, at once or (for
  // "wait") when the awaited message arrives or the time runs out.
  void Execute(const std::string& line, Reply reply);

  // Called when the operator asks the simulator to stop ("quit").
  void SetQuitHandler(std::function<void()> onQuit) { onQuit_ = std::move(onQuit); }

  // Shuts the link down and fails pending waits; later commands are refused.
  void Shutdown();

 private:
  struct Waiter;
  struct ReceivedMessage {
    std::uint64_t seq;
    int connection;
    std::string text;
  };
  // One verb: its name, its entry in the "help" list, whether it acts on the
  // connections (such commands are logged), and what it does. A verb that
  // sends an order also starts the window of "wait" (StartWindow).
  struct Verb {
    const char* name;
    const char* usage;
    bool logged;
    void (Console::*run)(const Command& c, Reply& reply);
  };
  static const std::vector<Verb>& Verbs();
  static std::string HelpList();

  void OnMessage(int connection, const std::string& text);
  void NotifyWaiters(const ReceivedMessage& m);
  // Connections a command acts on; sets `error` when there are none.
  std::vector<LinkConnection> Targets(int target, std::string& error) const;
  bool SendToTargets(int target, const std::string& text, std::string& reply);
  void StartWindow() { mark_ = receivedCount_; }

  void Help(const Command& c, Reply& reply);
  void List(const Command& c, Reply& reply);
  void Received(const Command& c, Reply& reply);
  void Mark(const Command& c, Reply& reply);
  void Wait(const Command& c, Reply& reply);
  void Quit(const Command& c, Reply& reply);
  void SendWord(const Command& c, Reply& reply);
  void SendOrder(const Command& c, Reply& reply);
  void Dbin(const Command& c, Reply& reply);
  void Vdid(const Command& c, Reply& reply);
  void Upda(const Command& c, Reply& reply);
  void Raw(const Command& c, Reply& reply);
  void Drop(const Command& c, Reply& reply);
  void Stall(const Command& c, Reply& reply);

  asio::io_context& io_;
  LinkServer& link_;
  ActivityLog& log_;
  InstallationStore& store_;
  std::deque<ReceivedMessage> received_;
  std::uint64_t receivedCount_ = 0;
  std::size_t receivedBytes_ = 0;
  std::uint64_t mark_ = 0;  // "wait" looks at messages after this one
  std::list<std::shared_ptr<Waiter>> waiters_;
  std::function<void()> onQuit_;
  bool shutDown_ = false;
};

}  // namespace pv::central
