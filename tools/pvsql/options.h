// Command line of pvsql: sqlcmd's common options plus the instance commands
// of the embedded engine.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pv::pvsql {

enum class Command {
  Run,             // run -Q, the -i files or standard input
  CreateInstance,  // --create-instance
  SetLogin,        // --set-login USER PASSWORD
  Offline,         // --offline
  Online,          // --online
  Help,            // --help, -?
  Version,         // --version
};

struct Options {
  Command command = Command::Run;
  std::string server = "localhost";
  std::string port = "1433";
  std::string database;  // empty: the login's default database
  std::string user = "sa";
  bool userGiven = false;               // -U was given
  std::optional<std::string> password;  // -P; without it SQLCMDPASSWORD or a prompt
  std::optional<std::string> query;     // -Q
  std::vector<std::string> inputFiles;  // -i (repeatable, or comma-separated)
  std::string separator = " ";          // -s
  bool trimTrailing = false;            // -W
  bool headers = true;                  // -h -1 turns them off
  bool abortOnError = false;            // -b
  int timeoutSeconds = 0;               // -t, 0 = none
  std::vector<std::pair<std::string, std::string>> variables;  // -v name=value
  bool substitute = true;                                      // -x turns $(name) replacement off
  std::string outputFile;                                      // -o; empty = standard output
  bool echo = false;                                           // -e
  std::string dataRoot;                                        // --root; empty = the default
  std::string loginUser;                                       // --set-login
  std::string loginPassword;
};

// Parses argv[1..]. On a usage error returns nothing and fills `error`.
std::optional<Options> ParseArguments(const std::vector<std::string>& args, std::string& error);

// Splits "host[,port]" (an optional "tcp:" prefix is accepted). False when
// the port is not a number from 1 to 65535 or the host is empty.
bool ParseServer(const std::string& text, std::string& host, std::string& port);

std::string UsageText();

}  // namespace pv::pvsql
