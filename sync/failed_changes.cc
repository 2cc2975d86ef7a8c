#include "sync/failed_changes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace pv::sync {

namespace {

std::string OneField(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

std::string LocalTime() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

}  // namespace

std::filesystem::path FailedChangesPath(const std::filesystem::path& appFolder) {
  return appFolder / kFailedChangesFile;
}

bool AppendFailedChange(const std::filesystem::path& file, const FailedChange& change) {
  // Without an application folder there is no place for the file.
  if (!file.has_parent_path() || file.parent_path().empty()) return false;
  const std::string line = LocalTime() + "\t" + OneField(change.queueId) + "\t" +
                           OneField(change.kind) + "\t" + OneField(change.resId) + "\t" +
                           OneField(change.recordId) + "\t" + std::to_string(change.number) + "\t" +
                           OneField(change.description) + "\n";
  // One write of the whole line in append mode: lines stay whole and the
  // file is never truncated.
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const char* p = line.data();
  std::size_t left = line.size();
  bool ok = true;
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace pv::sync
