// Reads operator commands from standard input on a thread of its own (stdin
// may be a terminal or console, a pipe, a file or /dev/null / NUL) and hands
// each line over; the callbacks run on that thread, so they post to the event
// loop.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace pv::central {

class StdinReader {
 public:
  StdinReader(std::function<void(std::string)> onLine, std::function<void()> onEnd);
  ~StdinReader();
  StdinReader(const StdinReader&) = delete;
  StdinReader& operator=(const StdinReader&) = delete;

  void Start();
  // No callback runs once Stop() has returned. The thread ends within a
  // fraction of a second and is waited for; on Windows a read that cannot be
  // interrupted (a pipe Wine cannot poll) is left to end with the process.
  void Stop();

  struct State;  // shared with the thread

 private:
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace pv::central
