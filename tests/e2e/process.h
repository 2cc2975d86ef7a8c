// A child program started for a test: its own process group (so helpers it
// starts go with it), its output in files, and killed when the object goes
// away or the test process dies, so no process outlives a test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pv::e2e {

class Process {
 public:
  // Starts `program` with `args`; the environment is the test's own with
  // `env` laid over it (an empty value removes the variable). Standard input
  // is /dev/null, or a pipe fed by WriteInput() when `inputPipe` is set;
  // standard output and error are appended to `outputFile`. Throws
  // std::runtime_error when the program cannot be started.
  Process(const std::filesystem::path& program, const std::vector<std::string>& args,
          const std::map<std::string, std::string>& env, const std::filesystem::path& outputFile,
          bool inputPipe = false);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  bool Running();
  // Sends a signal to the whole process group.
  void Signal(int signal);
  // Waits until the program ends; its exit code (128 + signal number when a
  // signal ended it), or nothing when it still runs after `timeout`.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout);
  // SIGTERM, then SIGKILL when it has not ended after `grace`; the exit code.
  int Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

  // Writes to the program's standard input (with inputPipe); false when it
  // cannot. CloseInput() gives the program the end of its input.
  bool WriteInput(const std::string& text);
  void CloseInput();

  const std::filesystem::path& outputFile() const { return output_; }
  std::string Output() const;  // what it printed so far

 private:
  void Reap(int status);

  pid_t pid_ = -1;
  int input_ = -1;  // write end of the standard-input pipe
  std::optional<int> exitCode_;
  std::filesystem::path output_;
};

}  // namespace pv::e2e
