#include "common/daily_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace pv::common {
namespace {

std::tm LocalTime(std::chrono::system_clock::time_point when) {
  std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
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
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    // One write per line keeps lines whole when another process appends too.
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
      ssize_t n = ::write(fd, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
  } catch (...) {
    // A log line never disturbs its caller.
  }
}

}  // namespace pv::common
