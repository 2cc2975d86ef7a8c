// The simulator's record of everything it receives and sends: one line per
// event with a local time stamp, written to stdout and appended to the log
// file of the state folder (flushed per line, so tests and operators can
// follow it while the simulator runs).
//
// Line forms (the message text is escaped: \r \n \t \\ and \xHH for other
// control characters, so one message is always one line):
//   2026-12-04 13:05:09.123 [3] <- NWID ABCDEF...     received on connection 3
//   2026-12-04 13:05:09.124 [3] -> +OK INID ABCDEF...  sent on connection 3
//   2026-12-04 13:05:09.100 [3] connected 127.0.0.1:50432
//   2026-12-04 13:05:10.000 [-] note text               anything else
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace pv::central {

class ActivityLog {
 public:
  // An empty path logs to stdout only. A file that cannot be opened is
  // reported on stderr once; logging then goes on to stdout.
  explicit ActivityLog(const std::filesystem::path& file, bool toStdout = true);
  ~ActivityLog();
  ActivityLog(const ActivityLog&) = delete;
  ActivityLog& operator=(const ActivityLog&) = delete;

  void Received(int connection, std::string_view message);
  void Sent(int connection, std::string_view message);
  void Event(int connection, std::string_view text);  // connection 0 prints "-"

  const std::filesystem::path& path() const { return path_; }

 private:
  void Write(int connection, std::string_view tag, std::string_view text);

  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  bool toStdout_;
};

// Escapes control characters and backslashes so that a message fits one line.
std::string EscapeForLog(std::string_view text);

}  // namespace pv::central
