#include "common/journal.h"

#include <algorithm>
#include <cstdio>

namespace pv::common {

Journal::Journal(Sink sink, Clock clock) : sink_(std::move(sink)), clock_(std::move(clock)) {
  if (!sink_) {
    sink_ = [](const std::string& line) {
      const std::string out = line + "\n";
      std::fwrite(out.data(), 1, out.size(), stderr);
      std::fflush(stderr);
    };
  }
  if (!clock_) clock_ = [] { return std::chrono::system_clock::now(); };
}

void Journal::Write(Priority priority, const std::string& text) {
  try {
    sink_("<" + std::to_string(static_cast<int>(priority)) + ">" + text);
  } catch (...) {
    // The journal never stops the work.
  }
}

void Journal::Summarise(Fold& fold, std::chrono::system_clock::time_point now) {
  if (fold.repeats > 0) {
    const auto minutes = std::max<long>(
        1, std::chrono::duration_cast<std::chrono::minutes>(now - fold.since).count());
    Write(fold.priority, fold.text + " (repeated " + std::to_string(fold.repeats) + " time" +
                             (fold.repeats == 1 ? "" : "s") + " in the last " +
                             std::to_string(minutes) + " min)");
  }
  fold.repeats = 0;
  fold.since = now;
}

void Journal::Failure(const std::string& topic, Priority priority, const std::string& text) {
  const auto now = clock_();
  auto it = folds_.find(topic);
  if (it != folds_.end() && it->second.text == text) {
    ++it->second.repeats;
    if (now - it->second.since >= kSummaryEvery) Summarise(it->second, now);
    return;
  }
  if (it != folds_.end()) Summarise(it->second, now);
  Fold& fold = folds_[topic];
  fold.text = text;
  fold.priority = priority;
  fold.repeats = 0;
  fold.since = now;
  Write(priority, text);
}

bool Journal::Recovered(const std::string& topic, Priority priority, const std::string& text) {
  auto it = folds_.find(topic);
  if (it == folds_.end()) return false;
  Summarise(it->second, clock_());
  folds_.erase(it);
  Write(priority, text);
  return true;
}

}  // namespace pv::common
