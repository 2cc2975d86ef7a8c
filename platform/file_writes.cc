#include "platform/file_writes.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/utf8_paths.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <string>

namespace pv::platform {

#ifdef _WIN32
namespace {

bool WriteAll(HANDLE h, std::string_view data) {
  while (!data.empty()) {
    const DWORD chunk = data.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(data.size());
    DWORD written = 0;
    if (!WriteFile(h, data.data(), chunk, &written, nullptr) || written == 0) return false;
    data.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool AppendToFile(const std::string& path, std::string_view data) {
  const std::wstring wide = WideFromUtf8(path);
  if (wide.empty()) return false;
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of
  // the file. Read access only for the lock below.
  HANDLE h = CreateFileW(wide.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // Appenders take turns on one byte far past any real end of the file, so
  // lines stay whole even where appending is not one step (Wine); readers
  // are never locked out.
  OVERLAPPED turn{};
  turn.OffsetHigh = 0x7FFFFFFF;
  const bool locked = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != 0;
  const bool ok = WriteAll(h, data);
  if (locked) UnlockFileEx(h, 0, 1, 0, &turn);
  return CloseHandle(h) != 0 && ok;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view data, unsigned /*newFileMode*/,
                           bool /*keepExistingMode*/) {
  const std::wstring target = WideFromUtf8(path);
  if (target.empty()) return false;
  const std::wstring temp = target + L".tmp." + std::to_wstring(GetCurrentProcessId());
  HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = WriteAll(h, data) && FlushFileBuffers(h) != 0;
  if (CloseHandle(h) == 0) ok = false;
  if (ok) {
    // A reader that has the target open without delete sharing blocks the
    // rename for a moment: try a few times before giving up.
    ok = false;
    for (int attempt = 0; attempt < 10 && !ok; ++attempt) {
      if (MoveFileExW(temp.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = true;
      } else {
        const DWORD err = GetLastError();
        if (err != ERROR_ACCESS_DENIED && err != ERROR_SHARING_VIOLATION) break;
        Sleep(20);
      }
    }
  }
  if (!ok) DeleteFileW(temp.c_str());
  return ok;
}

std::FILE* OpenStdioFile(const std::string& path, const char* mode) {
  const std::wstring wide = WideFromUtf8(path);
  const std::wstring wideMode = WideFromUtf8(mode);
  if (wide.empty() || wideMode.empty()) return nullptr;
  return _wfopen(wide.c_str(), wideMode.c_str());
}

#else
namespace {

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

constexpr mode_t kPrivateFileMode = 0600;

// Opens `path` with `flags` (no O_CREAT), creating it when missing with
// exactly kPrivateFileMode: the umask could only narrow the mode given to
// open(), never be trusted to. An existing file keeps its mode. -1 with
// errno on failure.
int OpenCreatingPrivate(const std::string& path, int flags) {
  // Two rounds: the file may disappear between the exclusive create and the
  // plain open.
  for (int round = 0; round < 2; ++round) {
    int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
    if (fd >= 0) {
      ::fchmod(fd, kPrivateFileMode);
      return fd;
    }
    if (errno != EEXIST) return -1;
    fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
  }
  return -1;
}

}  // namespace

bool AppendToFile(const std::string& path, std::string_view data) {
  const int fd = OpenCreatingPrivate(path, O_WRONLY | O_APPEND);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, data);
  return ::close(fd) == 0 && ok;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view data, unsigned newFileMode,
                           bool keepExistingMode) {
  mode_t mode = static_cast<mode_t>(newFileMode & 07777);
  struct stat st {};
  if (keepExistingMode && ::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return false;
  // The mode given to open() is narrowed by the umask; set it as asked.
  ::fchmod(fd, mode);
  bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

std::FILE* OpenStdioFile(const std::string& path, const char* mode) {
  if (mode == nullptr || (mode[0] != 'w' && mode[0] != 'a')) return std::fopen(path.c_str(), mode);
  // Writing modes are opened here so that a new file gets its mode from
  // OpenCreatingPrivate; the stream then takes over the descriptor.
  const std::string_view rest(mode + 1);
  const bool update = rest.find('+') != std::string_view::npos;
  int flags = update ? O_RDWR : O_WRONLY;
  flags |= mode[0] == 'w' ? O_TRUNC : O_APPEND;
  int fd;
  if (rest.find('x') != std::string_view::npos) {
    fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
    if (fd >= 0) ::fchmod(fd, kPrivateFileMode);
  } else {
    fd = OpenCreatingPrivate(path, flags);
  }
  if (fd < 0) return nullptr;
  std::string streamMode(1, mode[0]);
  if (update) streamMode += '+';
  std::FILE* file = ::fdopen(fd, streamMode.c_str());
  if (file == nullptr) {
    const int err = errno;
    ::close(fd);
    errno = err;
  }
  return file;
}

#endif

}  // namespace pv::platform
