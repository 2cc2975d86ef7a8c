// The failed-changes file: every queued change that is dropped without
// reaching the central side leaves one line in "FailedChanges.txt" in the
// application folder, so an operator can see what the central side is missing
// and put the change back into UpdateQueue. The file is only ever appended
// to, one line per write, flushed at once; it is created readable by its
// owner only (the lines carry residents' ids). It is never removed: at
// 10 MB it becomes "FailedChanges.1.txt" (replacing the one before) and a
// new file is started.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace pv::sync {

inline constexpr char kFailedChangesFile[] = "FailedChanges.txt";
inline constexpr char kFailedChangesOlderFile[] = "FailedChanges.1.txt";
inline constexpr std::uintmax_t kFailedChangesRotateBytes = 10 * 1024 * 1024;
// The number a change is kept queued with when its line cannot be written
// ("Write to file failed").
inline constexpr long kErrFailedChangesNotWritten = 3004;

// One dropped change. The numbers are kept as text so a row whose columns
// could not be read as numbers is recorded as it stood ("Null", "abc").
struct FailedChange {
  std::string queueId;
  std::string kind;
  std::string resId;
  std::string recordId;
  long number = 0;
  std::string description;
};

// <appFolder>/FailedChanges.txt
std::filesystem::path FailedChangesPath(const std::filesystem::path& appFolder);

// Appends one line: local time "YYYY-MM-DD hh:mm:ss", then queue id, change
// kind, resId, recordId, error number and description, separated by tabs
// (tabs and line breaks inside a field become blanks). A file of
// `rotateAtBytes` or more is first renamed to kFailedChangesOlderFile beside
// it. False when the file cannot be written (or `file` names no folder);
// nothing else is done then.
bool AppendFailedChange(const std::filesystem::path& file, const FailedChange& change,
                        std::uintmax_t rotateAtBytes = kFailedChangesRotateBytes);

}  // namespace pv::sync
