#include "common/daily_log.h"

#include <cstdio>
#include <ctime>

#include "platform/file_writes.h"
#include "platform/local_time.h"

namespace pv::common {
namespace {

std::tm LocalTime(std::chrono::system_clock::time_point when) {
  return platform::LocalTime(std::chrono::system_clock::to_time_t(when));
}

}  // namespace

DailyLog::DailyLog(std::string appFolder, Clock clock)
    : appFolder_(std::move(appFolder)), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::chrono::system_clock::now(); };
}

std::string DailyLog::FileName(std::chrono::system_clock::time_point when) {
  std::tm tm = LocalTime(when);
  char buf[32];
  std::snprintf(buf, sizeof buf, "Log %02d%02d%02d.txt", tm.tm_mon + 1, tm.tm_mday,
                tm.tm_year % 100);
  return buf;
}

std::string DailyLog::FormatLine(std::chrono::system_clock::time_point when,
                                 const std::string& message, long errorNumber,
                                 const std::string& detail) {
  std::tm tm = LocalTime(when);
  int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%02d%02d%02d %02d:%02d:%02d %s ", tm.tm_mon + 1, tm.tm_mday,
                tm.tm_year % 100, hour12, tm.tm_min, tm.tm_sec, tm.tm_hour < 12 ? "AM" : "PM");
  std::string line = stamp + message;
  if (errorNumber != 0) line += " - " + std::to_string(errorNumber);
  if (!detail.empty()) line += " - " + detail;
  return line;
}

void DailyLog::WriteLog(const std::string& message, long errorNumber,
                        const std::string& detail) const {
  try {
    // Without a prepared folder there is nowhere to write; the line is lost.
    if (appFolder_.empty()) return;
    auto now = clock_();
    std::string path = appFolder_ + FileName(now);
    std::string line = FormatLine(now, message, errorNumber, detail) + "\r\n";
    // One write per line keeps lines whole when another process appends too.
    platform::AppendToFile(path, line);
  } catch (...) {
    // A log line never disturbs its caller.
  }
}

}  // namespace pv::common
