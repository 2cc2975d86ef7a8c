// The operator's journal: one line per event on standard error, with the
// priority prefix systemd reads from a service's output ("<3>" error ...
// "<7>" debug), so that under systemd the lines land in the journal with
// their priorities and in a debug run they show on the terminal. The daily
// log is a different thing and stays as it is.
//
// A failure that repeats with the same text is written once; the repeats are
// counted and summed up as "<text> (repeated 12 times in the last 12 min)"
// when the text changes, when the failure ends, or every ten minutes while it
// lasts. The end of a failure is written once.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>

namespace pv::common {

enum class Priority : int { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

class Journal {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;
  // One finished line, prefix included, without the line feed.
  using Sink = std::function<void(const std::string& line)>;

  // `sink` defaults to standard error, `clock` to the system clock.
  explicit Journal(Sink sink = {}, Clock clock = {});

  void Write(Priority priority, const std::string& text);
  // A failure of `topic` ("link", "local database", ...): written unless it
  // repeats the topic's last failure text.
  void Failure(const std::string& topic, Priority priority, const std::string& text);
  // `topic` works again: `text` is written when the topic was failing (true
  // then), else nothing.
  bool Recovered(const std::string& topic, Priority priority, const std::string& text);
  bool Failing(const std::string& topic) const { return folds_.contains(topic); }

  // How often a lasting failure's repeats are summed up.
  static constexpr std::chrono::minutes kSummaryEvery{10};

 private:
  struct Fold {
    std::string text;
    Priority priority = Priority::Error;
    long repeats = 0;
    std::chrono::system_clock::time_point since;  // when the text was last written
  };
  void Summarise(Fold& fold, std::chrono::system_clock::time_point now);

  Sink sink_;
  Clock clock_;
  std::map<std::string, Fold> folds_;
};

}  // namespace pv::common
