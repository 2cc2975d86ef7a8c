// The control command-line: a running simulator listens on a second loopback
// port (written to STATE-DIR/control.port); `pvcentral --control STATE-DIR
// COMMAND` connects, sends the command as one line and prints the answer.
//
// Answer: the command's output lines, then one last line, "ok" or
// "error: <reason>"; then the simulator closes the connection.
#pragma once

#include <asio.hpp>
#include <filesystem>
#include <memory>
#include <string>

#include "tools/pvcentral/console.h"

namespace pv::central {

class ControlServer {
 public:
  ControlServer(asio::io_context& io, Console& console);
  // Binds 127.0.0.1 on a free port; throws std::system_error.
  void Listen();
  unsigned short port() const { return port_; }
  void Shutdown();

 private:
  struct Connection;
  void Accept();
  void Serve(const std::shared_ptr<Connection>& c);

  asio::io_context& io_;
  Console& console_;
  asio::ip::tcp::acceptor acceptor_;
  unsigned short port_ = 0;
  bool shutDown_ = false;
};

// Sends `command` to the simulator whose state folder is `stateDir`, prints
// its answer (output on stdout, the reason of a failure on stderr) and
// returns the exit status: 0 done, 1 the command failed, 2 no simulator
// answered. `timeoutSeconds` 0 waits as long as the simulator takes.
int RunControlClient(const std::filesystem::path& stateDir, const std::string& command,
                     double timeoutSeconds);

// Reads a port number written by the simulator; 0 when the file is missing
// or does not hold one.
unsigned short ReadPortFile(const std::filesystem::path& file);

// Writes a port number atomically (temporary file, then rename).
bool WritePortFile(const std::filesystem::path& file, unsigned short port);

}  // namespace pv::central
