// The daily log: one file "Log mmddyy.txt" per day in the application folder,
// one line per call, opened, appended and closed each time so other programs
// can read it at any time. Writing never fails: a line that cannot be written
// is lost silently. A new log file is readable by its owner only (the lines
// name residents). With a number of days to keep, older daily files are
// removed once a day.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

namespace pv::common {

class DailyLog {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  // `appFolder` ends in '/' (or is empty until the folder is prepared);
  // `clock` defaults to the system clock.
  explicit DailyLog(std::string appFolder = {}, Clock clock = {});

  void SetAppFolder(std::string appFolder) { appFolder_ = std::move(appFolder); }
  const std::string& appFolder() const { return appFolder_; }

  // Daily files older than `days` days (by the date in their name) are
  // removed with the first line written each day; 0 keeps them all. Only
  // "Log mmddyy.txt" files are ever removed.
  void SetKeepDays(int days) { keepDays_ = days > 0 ? days : 0; }

  // Writes "mmddyy hh:mm:ss AM/PM message[ - errorNumber][ - detail]" + CRLF.
  void WriteLog(const std::string& message, long errorNumber = 0,
                const std::string& detail = {}) const;

  // The line without its CRLF, for `when` in local time.
  static std::string FormatLine(std::chrono::system_clock::time_point when,
                                const std::string& message, long errorNumber,
                                const std::string& detail);
  // "Log mmddyy.txt" for `when` in local time.
  static std::string FileName(std::chrono::system_clock::time_point when);

 private:
  void RemoveOldFiles(std::chrono::system_clock::time_point now) const;

  std::string appFolder_;
  Clock clock_;
  std::atomic<int> keepDays_{0};
  // Local day (days since 1970) of the last removal of old files; lines may
  // be written from more than one thread.
  mutable std::atomic<long> sweptDay_{-1};
};

}  // namespace pv::common
