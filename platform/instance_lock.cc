#include "platform/instance_lock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/utf8_paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace pv::platform {

namespace {

long PidOf(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

#ifdef _WIN32
// The lock covers one byte far past the pid text, so the text stays readable
// while the lock is held.
constexpr DWORD kLockOffsetHigh = 1;

HANDLE OpenLockFile(const std::string& path, bool create) {
  return CreateFileW(PathFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool TryLock(HANDLE h, bool exclusive) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  return LockFileEx(h, (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                    0, &at) != 0;
}

void Unlock(HANDLE h) {
  OVERLAPPED at{};
  at.OffsetHigh = kLockOffsetHigh;
  UnlockFileEx(h, 0, 1, 0, &at);
}

std::string ReadSmall(HANDLE h) {
  char buf[32] = {};
  DWORD n = 0;
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  if (!ReadFile(h, buf, sizeof buf - 1, &n, nullptr)) return {};
  return std::string(buf, n);
}
#else
std::string ReadSmall(int fd) {
  char buf[32] = {};
  const ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}
#endif

}  // namespace

#ifdef _WIN32

InstanceLock::InstanceLock(std::string path) : path_(std::move(path)) {
  HANDLE h = OpenLockFile(path_, true);
  if (h == INVALID_HANDLE_VALUE) {
    error_ = "cannot open " + path_ + " (error " + std::to_string(GetLastError()) + ")";
    return;
  }
  if (!TryLock(h, true)) {
    holderPid_ = PidOf(ReadSmall(h));
    CloseHandle(h);
    return;
  }
  const std::string pid = std::to_string(GetCurrentProcessId()) + "\n";
  DWORD written = 0;
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  WriteFile(h, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
  SetEndOfFile(h);
  handle_ = h;
  held_ = true;
}

InstanceLock::~InstanceLock() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

bool InstanceLockHeld(const std::string& path) {
  HANDLE h = OpenLockFile(path, false);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool free = TryLock(h, false);
  if (free) Unlock(h);
  CloseHandle(h);
  return !free;
}

#else

InstanceLock::InstanceLock(std::string path) : path_(std::move(path)) {
  const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error_ = "cannot open " + path_ + ": " + std::strerror(errno);
    return;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) error_ = "cannot lock " + path_ + ": " + std::strerror(errno);
    holderPid_ = PidOf(ReadSmall(fd));
    close(fd);
    return;
  }
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0 && pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // The pid is for people; the lock itself is what counts.
  }
  fd_ = fd;
  held_ = true;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);
}

bool InstanceLockHeld(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = flock(fd, LOCK_SH | LOCK_NB) == 0;
  if (free) flock(fd, LOCK_UN);
  close(fd);
  return !free;
}

#endif

}  // namespace pv::platform
