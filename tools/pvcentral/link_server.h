// The simulator's side of the link: accepts the service's connections, cuts
// what they send into messages, logs both directions and leads the
// conversation on its own (greeting, key assignment, installation id, central
// database data). The operator console sends everything else through it.
// Everything runs on one io_context thread.
#pragma once

#include <asio.hpp>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/pvcentral/activity_log.h"
#include "tools/pvcentral/installation_store.h"
#include "tools/pvcentral/options.h"

namespace pv::central {

// What is known of one connection of a service.
struct LinkConnection {
  int id = 0;
  std::string peer;            // "address:port", "?" when unknown
  std::string key;             // empty until identified
  std::string installationId;  // empty until identified
};

class LinkServer {
 public:
  // Called with every complete message (UTF-8) before the conversation
  // answers it.
  using MessageObserver = std::function<void(int connection, const std::string& text)>;

  LinkServer(asio::io_context& io, const Options& options, ActivityLog& log,
             InstallationStore& store);
  ~LinkServer();
  LinkServer(const LinkServer&) = delete;
  LinkServer& operator=(const LinkServer&) = delete;

  // Binds and starts accepting; throws std::system_error when the port is taken.
  void Listen();
  unsigned short port() const { return port_; }

  void SetMessageObserver(MessageObserver observer) { observer_ = std::move(observer); }

  // The open connections in id order.
  std::vector<LinkConnection> Connections() const;

  // Frames, converts and logs one message; nothing when the connection is gone.
  void Send(int connection, const std::string& text);
  // Sends wire bytes as they stand, with the delimiter when `framed`.
  void SendBytes(int connection, const std::string& bytes, bool framed);
  void Close(int connection, const std::string& reason);
  // Stops handling what the connection sends for `seconds`: bytes that arrive
  // meanwhile are held, and once the socket's buffers are full the peer's
  // writes wait. Afterwards the held bytes are handled in order.
  void Stall(int connection, int seconds);

  // Closes the listener and every connection.
  void Shutdown();

  // The "DBIN" argument with the central instance's data.
  std::string DbinFields() const;

 private:
  struct Session;

  void Accept();
  void StartRead(const std::shared_ptr<Session>& s);
  void Handle(const std::shared_ptr<Session>& s, std::string_view bytes);
  void ReadAfterStall(const std::shared_ptr<Session>& s);
  void OnMessage(const std::shared_ptr<Session>& s, const std::string& message);
  void Identify(const std::shared_ptr<Session>& s, const std::string& key, bool isNew);
  void Send(const std::shared_ptr<Session>& s, const std::string& text);  // framed, UTF-8
  void SendWire(const std::shared_ptr<Session>& s, std::string bytes);    // as they stand
  void Flush(const std::shared_ptr<Session>& s);
  void Close(const std::shared_ptr<Session>& s, const std::string& reason);
  std::shared_ptr<Session> Find(int connection) const;

  asio::io_context& io_;
  Options options_;
  ActivityLog& log_;
  InstallationStore& store_;
  asio::ip::tcp::acceptor acceptor_;
  unsigned short port_ = 0;
  int nextId_ = 1;
  std::map<int, std::shared_ptr<Session>> sessions_;
  MessageObserver observer_;
  bool shutDown_ = false;
};

// A fresh installation key: 50 upper-case letters from a proper random source.
std::string RandomKey();

}  // namespace pv::central
