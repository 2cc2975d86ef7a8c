// One running service per application-data folder: the service holds a lock
// on a file in that folder for as long as it runs (flock on Linux, LockFileEx
// on Windows; both end with the process, however it ends). A second run finds
// the lock taken and leaves everything of the first run alone.
#pragma once

#include <string>

namespace pv::platform {

class InstanceLock {
 public:
  // Tries to take the lock on `path` (created when missing; its folder must
  // exist). When taken, the file holds this process's id.
  explicit InstanceLock(std::string path);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  bool held() const { return held_; }
  // When not held: the id the holder wrote into the file (0 when unknown),
  // and why the lock was not taken ("" when another process holds it).
  long holderPid() const { return holderPid_; }
  const std::string& error() const { return error_; }

 private:
  std::string path_;
  bool held_ = false;
  long holderPid_ = 0;
  std::string error_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// True when a running process holds the lock on `path`; false when the file
// is missing or nobody holds it. Takes nothing: the probe is released at once.
bool InstanceLockHeld(const std::string& path);

}  // namespace pv::platform
