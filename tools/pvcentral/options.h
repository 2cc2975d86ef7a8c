// Command line of pvcentral: either run the simulator with its options, or
// (--control) hand one command to a simulator that is already running.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace pv::central {

// The central SQL instance the simulator hands out with "DBIN" and whose home
// database backs the installation keys and ids.
struct CentralInstance {
  std::string server = "localhost";
  std::string port = "1434";
  std::string user = "sa";
  std::string password = "central";
  std::string homeDatabase = "PVHome";
  std::string extra;                 // sixth "DBIN" field, not used by the service
  std::filesystem::path dataRoot;    // embedded engine data root
  std::filesystem::path homeScript;  // T-SQL script that creates the home tables
};

struct Options {
  std::string bind = "127.0.0.1";
  int port = 8080;  // 0: the system picks a free port
  std::filesystem::path stateDir;
  CentralInstance central;
  bool autoVdid = true;   // "VDID" right after identification
  bool autoDbin = true;   // "DBIN" right after "VDID"
  bool newKeys = false;   // "INID" assigns a fresh key instead of the received one
  bool readStdin = true;  // commands on standard input
  bool quiet = false;     // no log lines on stdout (the log file is still written)
  std::size_t maxPending = 1 << 20;
};

struct CommandLine {
  enum class Mode { Run, Control, Help, Version, Error };
  Mode mode = Mode::Run;
  Options options;
  std::filesystem::path controlDir;  // Mode::Control: state folder of the running simulator
  std::string command;               // Mode::Control: the command, words joined by blanks
  double controlTimeout = 0;         // Mode::Control: 0 = no limit of its own
  std::string error;                 // Mode::Error
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

// Fills what the command line left open: state folder, data root, script.
void ApplyDefaults(Options& options);

std::string HelpText();

// File names inside the state folder.
inline constexpr const char* kLogFileName = "pvcentral.log";
inline constexpr const char* kPortFileName = "pvcentral.port";
inline constexpr const char* kControlPortFileName = "control.port";

}  // namespace pv::central
