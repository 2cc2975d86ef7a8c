#include "sync/failed_changes.h"

#include <ctime>

#include "platform/file_writes.h"
#include "platform/local_time.h"
#include "platform/utf8_paths.h"

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
  const std::tm tm = platform::LocalTime(std::time(nullptr));
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

}  // namespace

std::filesystem::path FailedChangesPath(const std::filesystem::path& appFolder) {
  return appFolder / kFailedChangesFile;
}

bool AppendFailedChange(const std::filesystem::path& file, const FailedChange& change,
                        std::uintmax_t rotateAtBytes) {
  // Without an application folder there is no place for the file.
  if (!file.has_parent_path() || file.parent_path().empty()) return false;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (!ec && size >= rotateAtBytes) {
    // The older file goes first: a rename onto an existing file fails on
    // Windows. A rotation that fails leaves the file growing, not lost.
    const auto older = file.parent_path() / kFailedChangesOlderFile;
    std::filesystem::remove(older, ec);
    std::filesystem::rename(file, older, ec);
  }
  const std::string line = LocalTime() + "\t" + OneField(change.queueId) + "\t" +
                           OneField(change.kind) + "\t" + OneField(change.resId) + "\t" +
                           OneField(change.recordId) + "\t" + std::to_string(change.number) + "\t" +
                           OneField(change.description) + "\n";
  // One write of the whole line in append mode: lines stay whole and the
  // file is never truncated.
  return platform::AppendToFile(platform::Utf8FromPath(file), line);
}

}  // namespace pv::sync
