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

bool ReplaceFileAtomically(const std::string& path, std::string_view data,
                           unsigned /*newFileMode*/) {
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

}  // namespace

bool AppendToFile(const std::string& path, std::string_view data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, data);
  return ::close(fd) == 0 && ok;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view data, unsigned newFileMode) {
  mode_t mode = static_cast<mode_t>(newFileMode & 07777);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

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
  return std::fopen(path.c_str(), mode);
}

#endif

}  // namespace pv::platform
