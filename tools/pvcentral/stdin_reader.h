// Reads operator commands from standard input on a thread of its own (stdin
// may be a terminal, a pipe or /dev/null) and hands each line over; the
// callbacks run on that thread, so they post to the event loop.
#pragma once

#include <atomic>
#include <functional>
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
  // Stops the thread within a fraction of a second and waits for it.
  void Stop();

 private:
  void Run();

  std::function<void(std::string)> onLine_;
  std::function<void()> onEnd_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace pv::central
