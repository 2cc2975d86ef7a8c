#include "platform/files.h"

#ifdef _WIN32
#include <windows.h>
// The function below is DeleteFile, not windows.h's macro for DeleteFileA.
#undef DeleteFile
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/utf8_paths.h"

namespace pv::platform {
namespace fs = std::filesystem;
namespace {

bool HasWildcards(std::string_view text) {
  return text.find_first_of("*?") != std::string_view::npos;
}

// '*' any run of characters, '?' exactly one; everything else literally.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool Wanted(const fs::path& entry, int attributes) {
  std::error_code ec;
  auto status = fs::status(entry, ec);
  if (ec) return false;
  if (attributes & kAttrDirectory) return fs::is_directory(status);
  return fs::is_regular_file(status);
}

// Calls `found` for every entry `path` names; stops when it returns false.
template <typename F>
void ForEachMatch(const std::string& path, int attributes, F found) {
  if (path.empty()) return;
  // "folder/" names the folder itself.
  fs::path p = PathFromUtf8(WithoutTrailingSeparators(path));
  std::string leaf = Utf8FromPath(p.filename());
  if (!HasWildcards(leaf)) {
    if (Wanted(p, attributes)) found(p);
    return;
  }
  fs::path parent = p.parent_path();
  if (parent.empty()) parent = ".";
  if (HasWildcards(Utf8FromPath(parent))) return;
  std::error_code ec;
  fs::directory_iterator it(parent, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::path& entry = it->path();
    if (WildcardMatch(leaf, Utf8FromPath(entry.filename())) && Wanted(entry, attributes)) {
      if (!found(entry)) return;
    }
  }
}

}  // namespace

bool FileExists(const std::string& path, int attributes) {
  bool any = false;
  try {
    ForEachMatch(path, attributes, [&](const fs::path&) {
      any = true;
      return false;
    });
  } catch (...) {
    return false;
  }
  return any;
}

void DeleteFile(const std::string& path) {
  try {
    ForEachMatch(path, kAttrFiles, [](const fs::path& entry) {
      std::error_code ec;
      fs::remove(entry, ec);
      return true;
    });
  } catch (...) {
  }
}

bool MakeDirectories(const std::string& path) {
  std::error_code ec;
  const fs::path folder = PathFromUtf8(path);
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec);
}

std::string SizeText(std::size_t bytes) {
  constexpr std::size_t kKiB = 1024, kMiB = 1024 * 1024;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

namespace {

// Reads in chunks, so a file that grows while it is read costs at most one
// chunk beyond the limit.
constexpr std::size_t kChunk = 64 * 1024;

SmallFile Refused(SmallFile::Status status, std::string error) {
  SmallFile result;
  result.status = status;
  result.error = std::move(error);
  return result;
}

SmallFile TooLarge(std::size_t maxBytes) {
  return Refused(SmallFile::Status::kTooLarge, "is larger than " + SizeText(maxBytes));
}

SmallFile NotRegular() { return Refused(SmallFile::Status::kNotRegular, "is not a regular file"); }

}  // namespace

#ifdef _WIN32

namespace {

SmallFile Failed(DWORD err) {
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) {
    return Refused(SmallFile::Status::kMissing, "does not exist");
  }
  return Refused(SmallFile::Status::kFailed,
                 "cannot be read: " + std::system_category().message(static_cast<int>(err)));
}

}  // namespace

bool MakePrivateFolder(const std::string& path) { return MakeDirectories(path); }

std::optional<FileStamp> StampOf(const std::string&) { return std::nullopt; }

SmallFile ReadSmallFile(const std::string& path, std::size_t maxBytes) {
  const std::wstring wide = WideFromUtf8(path);
  if (wide.empty()) return Failed(ERROR_PATH_NOT_FOUND);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed(GetLastError());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return NotRegular();
  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Failed(GetLastError());
  SmallFile result;
  LARGE_INTEGER size{};
  if (GetFileType(h) != FILE_TYPE_DISK) {
    result = NotRegular();
  } else if (!GetFileSizeEx(h, &size)) {
    result = Failed(GetLastError());
  } else if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
    result = TooLarge(maxBytes);
  } else {
    result.status = SmallFile::Status::kRead;
    result.text.reserve(static_cast<std::size_t>(size.QuadPart));
    std::vector<char> chunk(kChunk);
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(h, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr)) {
        result = Failed(GetLastError());
        break;
      }
      if (got == 0) break;
      if (result.text.size() + got > maxBytes) {
        result = TooLarge(maxBytes);
        break;
      }
      result.text.append(chunk.data(), got);
    }
  }
  CloseHandle(h);
  return result;
}

#else

namespace {

SmallFile Failed(int err) {
  if (err == ENOENT || err == ENOTDIR)
    return Refused(SmallFile::Status::kMissing, "does not exist");
  return Refused(SmallFile::Status::kFailed,
                 "cannot be read: " + std::generic_category().message(err));
}

}  // namespace

bool MakePrivateFolder(const std::string& path) {
  const std::string folder = WithoutTrailingSeparators(path);
  if (folder.empty()) return false;
  std::error_code ec;
  const fs::path parent = PathFromUtf8(folder).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  if (::mkdir(folder.c_str(), 0700) == 0) {
    // The umask may have taken bits the owner needs.
    ::chmod(folder.c_str(), 0700);
    return true;
  }
  if (errno != EEXIST) return false;
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if ((st.st_mode & 077) != 0 && st.st_uid == ::geteuid()) {
    ::chmod(folder.c_str(), st.st_mode & 07700);
  }
  return true;
}

namespace {

FileStamp StampOfStat(const struct stat& st) {
  FileStamp s;
  s.device = static_cast<std::uint64_t>(st.st_dev);
  s.inode = static_cast<std::uint64_t>(st.st_ino);
  s.size = static_cast<std::uint64_t>(st.st_size);
  s.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.changedNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  s.mode = static_cast<unsigned>(st.st_mode);
  return s;
}

}  // namespace

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return StampOfStat(st);
}

SmallFile ReadSmallFile(const std::string& path, std::size_t maxBytes) {
  // Looked at before it is opened: opening a device can have effects of its
  // own.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Failed(errno);
  if (!S_ISREG(st.st_mode)) return NotRegular();
  if (static_cast<unsigned long long>(st.st_size) > maxBytes) return TooLarge(maxBytes);

  // O_NONBLOCK: should the name have been swapped for a FIFO meanwhile, the
  // open does not wait for a writer; what was opened is checked again.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Failed(errno);
  SmallFile result;
  if (::fstat(fd, &st) != 0) {
    result = Failed(errno);
  } else if (!S_ISREG(st.st_mode)) {
    result = NotRegular();
  } else if (static_cast<unsigned long long>(st.st_size) > maxBytes) {
    result = TooLarge(maxBytes);
  } else {
    result.status = SmallFile::Status::kRead;
    result.mode = static_cast<unsigned>(st.st_mode & 07777);
    result.stamp = StampOfStat(st);
    result.text.reserve(static_cast<std::size_t>(st.st_size));
    std::vector<char> chunk(kChunk);
    for (;;) {
      const ssize_t got = ::read(fd, chunk.data(), chunk.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        result = Failed(errno);
        break;
      }
      if (got == 0) break;
      if (result.text.size() + static_cast<std::size_t>(got) > maxBytes) {
        result = TooLarge(maxBytes);
        break;
      }
      result.text.append(chunk.data(), static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  return result;
}

#endif

}  // namespace pv::platform
