// The simulated central server: accepts the service's connections, leads the
// conversation (greeting, key assignment, installation id, central database
// data) and carries out the operator's commands. Everything runs on one
// io_context thread.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>

#include "tools/pvcentral/activity_log.h"
#include "tools/pvcentral/installation_store.h"
#include "tools/pvcentral/options.h"

namespace pv::central {

class CentralServer {
 public:
  // Called once per command with the outcome and the text to show (lines
  // separated by '\n', no trailing line end).
  using Reply = std::function<void(bool ok, const std::string& text)>;

  CentralServer(asio::io_context& io, const Options& options, ActivityLog& log,
                InstallationStore& store);
  ~CentralServer();
  CentralServer(const CentralServer&) = delete;
  CentralServer& operator=(const CentralServer&) = delete;

  // Binds and starts accepting; throws std::system_error when the port is taken.
  void Listen();
  unsigned short port() const { return port_; }

  // Runs one command line; `reply` is called exactly once, at once or (for
  // "wait") when the awaited message arrives or the time runs out.
  void Execute(const std::string& line, Reply reply);

  // Called when the operator asks the simulator to stop ("quit").
  void SetQuitHandler(std::function<void()> onQuit) { onQuit_ = std::move(onQuit); }

  // Closes the listener and every connection and fails pending waits.
  void Shutdown();

  // The "DBIN" argument with the central instance's data.
  std::string DbinFields() const;

 private:
  struct Session;
  struct Waiter;
  struct ReceivedMessage {
    std::uint64_t seq;
    int connection;
    std::string text;
  };

  void Accept();
  void StartRead(const std::shared_ptr<Session>& s);
  void OnMessage(const std::shared_ptr<Session>& s, const std::string& message);
  void Identify(const std::shared_ptr<Session>& s, const std::string& key, bool isNew);
  void Send(const std::shared_ptr<Session>& s, const std::string& text);  // framed, UTF-8
  void SendWire(const std::shared_ptr<Session>& s, std::string bytes);    // as they stand
  void Flush(const std::shared_ptr<Session>& s);
  void Close(const std::shared_ptr<Session>& s, const std::string& reason);

  // Sessions a command acts on; sets `error` when there are none.
  std::vector<std::shared_ptr<Session>> Targets(int target, std::string& error) const;
  bool SendToTargets(int target, const std::string& text, std::string& reply);
  void Wait(int target, const std::string& arg, Reply reply);
  void NotifyWaiters(const ReceivedMessage& m);

  asio::io_context& io_;
  Options options_;
  ActivityLog& log_;
  InstallationStore& store_;
  asio::ip::tcp::acceptor acceptor_;
  unsigned short port_ = 0;
  int nextId_ = 1;
  std::map<int, std::shared_ptr<Session>> sessions_;
  std::deque<ReceivedMessage> received_;
  std::uint64_t receivedCount_ = 0;
  std::size_t receivedBytes_ = 0;
  std::uint64_t mark_ = 0;  // "wait" looks at messages after this one
  std::list<std::shared_ptr<Waiter>> waiters_;
  std::function<void()> onQuit_;
  bool shutDown_ = false;
};

// A fresh installation key: 50 upper-case letters from a proper random source.
std::string RandomKey();

}  // namespace pv::central
