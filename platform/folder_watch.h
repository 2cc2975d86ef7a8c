// Tells cheaply whether the entries of a folder may have changed: a file
// created, removed or renamed there, or its attributes changed. The embedded
// engine asks before every statement whether its instance was taken offline
// or its database file dropped; a look at a quiet folder is one atomic load
// instead of a path lookup per file.
//
// On Linux one inotify watch per folder serves the whole process, read by a
// thread of its own. A change made by another process is seen as soon as
// that thread has read its event (microseconds); a change this process makes
// through Touch is seen at once. Where there is no watch (Windows, a folder
// that cannot be watched) every look says "maybe", so callers probe as they
// would without it; and at least once a second any look says "maybe", for
// changes a watch does not see (a parent folder renamed, a network file
// system).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>

#include "platform/coarse_clock.h"

namespace pv::platform {

class FolderWatch {
 public:
  FolderWatch() = default;
  explicit FolderWatch(const std::filesystem::path& folder);

  // True when the folder may have changed since this object's previous
  // call, and always at its first call.
  bool Changed();

  // Tells every watch on `folder` in this process that it changed (after
  // this process removed or created a file there).
  static void Touch(const std::filesystem::path& folder);

  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
  std::uint64_t seen_ = 0;
  CoarseClock::time_point lastProbe_{};
};

}  // namespace pv::platform
