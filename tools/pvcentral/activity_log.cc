#include "tools/pvcentral/activity_log.h"

#include <chrono>
#include <ctime>
#include <iostream>

#include "platform/file_writes.h"
#include "platform/local_time.h"
#include "platform/utf8_paths.h"

namespace pv::central {

std::string EscapeForLog(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (b < 0x20 || b == 0x7F) {
          out += "\\x";
          out += kHex[b >> 4];
          out += kHex[b & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out;
}

ActivityLog::ActivityLog(const std::filesystem::path& file, bool toStdout)
    : path_(file), toStdout_(toStdout) {
  if (!path_.empty()) {
    file_ = platform::OpenStdioFile(platform::Utf8FromPath(path_), "ab");
    if (file_ == nullptr) {
      std::cerr << "pvcentral: cannot open log file " << platform::Utf8FromPath(path_)
                << "; logging to stdout only\n";
    }
  }
}

ActivityLog::~ActivityLog() {
  if (file_ != nullptr) std::fclose(file_);
}

void ActivityLog::Received(int connection, std::string_view message) {
  Write(connection, "<- ", EscapeForLog(message));
}

void ActivityLog::Sent(int connection, std::string_view message) {
  Write(connection, "-> ", EscapeForLog(message));
}

void ActivityLog::Event(int connection, std::string_view text) {
  Write(connection, "", EscapeForLog(text));
}

void ActivityLog::Write(int connection, std::string_view tag, std::string_view text) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::tm tm = platform::LocalTime(t);
  char stamp[40];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  std::string line = stamp;
  char frac[8];
  std::snprintf(frac, sizeof frac, ".%03d", static_cast<int>(ms));
  line += frac;
  line += connection > 0 ? " [" + std::to_string(connection) + "] " : std::string(" [-] ");
  line += tag;
  line += text;
  line += '\n';
  if (toStdout_) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }
  if (file_ != nullptr) {
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
  }
}

}  // namespace pv::central
