#include "common/daily_log.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/file_writes.h"
#include "platform/local_time.h"
#include "platform/utf8_paths.h"

namespace pv::common {
namespace {

std::tm LocalTime(std::chrono::system_clock::time_point when) {
  return platform::LocalTime(std::chrono::system_clock::to_time_t(when));
}

long DayNumber(int year, unsigned month, unsigned day) {
  using namespace std::chrono;
  return sys_days(year_month_day(std::chrono::year(year), std::chrono::month(month),
                                 std::chrono::day(day)))
      .time_since_epoch()
      .count();
}

// The local day a daily file was written on, from its name "Log mmddyy.txt";
// -1 for any other name.
long DayOfLogFile(const std::string& name) {
  if (name.size() != 14 || name.compare(0, 4, "Log ") != 0 || name.compare(10, 4, ".txt") != 0) {
    return -1;
  }
  int digits[6];
  for (int i = 0; i < 6; ++i) {
    const char c = name[4 + i];
    if (c < '0' || c > '9') return -1;
    digits[i] = c - '0';
  }
  const unsigned month = digits[0] * 10 + digits[1];
  const unsigned day = digits[2] * 10 + digits[3];
  const int year = 2000 + digits[4] * 10 + digits[5];
  if (!std::chrono::year_month_day(std::chrono::year(year), std::chrono::month(month),
                                   std::chrono::day(day))
           .ok()) {
    return -1;
  }
  return DayNumber(year, month, day);
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
    RemoveOldFiles(now);
  } catch (...) {
    // A log line never disturbs its caller.
  }
}

void DailyLog::RemoveOldFiles(std::chrono::system_clock::time_point now) const {
  const int keep = keepDays_;
  if (keep == 0) return;
  const std::tm tm = LocalTime(now);
  const long today = DayNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  // Once a day, by whichever line comes first.
  if (sweptDay_.exchange(today) == today) return;
  std::error_code ec;
  std::filesystem::directory_iterator it(platform::PathFromUtf8(appFolder_), ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    const long day = DayOfLogFile(platform::Utf8FromPath(it->path().filename()));
    if (day >= 0 && today - day > keep) {
      std::error_code ignored;
      std::filesystem::remove(it->path(), ignored);
    }
  }
}

}  // namespace pv::common
