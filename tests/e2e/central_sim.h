// A running pvcentral for a test: started on a free loopback port under the
// test's root, driven through its control port, and read through its log.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/sql_site.h"
#include "tests/e2e/temp_root.h"
#include "tests/support/wait.h"

namespace pv::e2e {

using namespace std::chrono_literals;

// One line of the simulator's log.
struct CentralLogLine {
  enum class Kind { Received, Sent, Event };
  Kind kind = Kind::Event;
  int connection = 0;  // 0 for lines not about one connection
  std::string text;    // unescaped message or event text
};

struct ControlAnswer {
  bool ok = false;
  std::string output;  // the command's output, or the reason it failed
};

struct CentralSimConfig {
  SqlInstance instance = DefaultCentralInstance();
  std::string homeDatabase = kDefaultHomeDatabase;
  std::vector<std::string> extraArgs;  // e.g. "--no-auto-vdid"
  bool quiet = true;                   // false: log lines on stdout too (output.txt)

  static CentralSimConfig WithArgs(std::vector<std::string> args) {
    CentralSimConfig c;
    c.extraArgs = std::move(args);
    return c;
  }
};

class CentralSim {
 public:
  using Config = CentralSimConfig;

  // Starts pvcentral and waits until it listens; throws std::runtime_error
  // (with the program's output) when it does not within `startTimeout`.
  explicit CentralSim(const TempRoot& root, Config config = {},
                      std::chrono::milliseconds startTimeout = 60s);
  ~CentralSim();

  unsigned short port() const { return port_; }
  const std::filesystem::path& stateDir() const { return stateDir_; }
  const Config& config() const { return config_; }
  Process& process() { return *process_; }

  // One command through the control port (as `pvcentral --control` does).
  ControlAnswer Command(const std::string& line, std::chrono::milliseconds timeout = 30s);

  std::vector<CentralLogLine> LogLines() const;
  std::string LogText() const;  // the raw log, for failure messages
  // The messages received from services so far, in order.
  std::vector<std::string> Received() const;
  std::size_t ReceivedCount() const { return Received().size(); }
  std::vector<std::string> Sent() const;

  // Waits for a received message starting with `prefix` among those after
  // the first `from` ones; returns its index in Received().
  std::optional<std::size_t> WaitReceived(const std::string& prefix,
                                          std::chrono::milliseconds timeout,
                                          std::size_t from = 0) const;
  // Waits until the log holds a line for which `predicate` is true.
  template <typename Predicate>
  bool WaitLine(Predicate predicate, std::chrono::milliseconds timeout) const {
    return WaitUntil([&] { return std::ranges::any_of(LogLines(), predicate); }, timeout, 25ms);
  }

  // Stops the simulator (SIGTERM); its exit code.
  int Stop();

 private:
  Config config_;
  std::filesystem::path stateDir_;
  std::unique_ptr<Process> process_;
  unsigned short port_ = 0;
  unsigned short controlPort_ = 0;
};

// Inverse of the log's escaping (\\ \r \n \t \xHH).
std::string UnescapeLogText(const std::string& text);

}  // namespace pv::e2e
