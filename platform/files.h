// Small file helpers shared by the log, the application folder, the settings
// and the photo files. None of them throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// <windows.h> (which asio brings in on Windows) defines DeleteFile as a macro
// for DeleteFileA; without it, callers that saw the macro would ask for a
// function this file does not define.
#ifdef DeleteFile
#undef DeleteFile
#endif

namespace pv::platform {

inline constexpr int kAttrFiles = 0;       // regular files only
inline constexpr int kAttrDirectory = 16;  // directories

// True when `path` names at least one entry of the kind `attributes` asks
// for: 0 files (directories are not reported), 16 directories. The last path
// component may hold the wildcards '*' and '?'. Any failure answers false.
bool FileExists(const std::string& path, int attributes = kAttrFiles);

// Deletes the file(s) that FileExists(path, 0) finds; never fails.
void DeleteFile(const std::string& path);

// Creates `path` and any missing parents; false when it is not a directory
// afterwards.
bool MakeDirectories(const std::string& path);

// Creates `path` (and any missing parents) as a folder only its owner can
// enter: mode 0700 whatever the umask. An existing folder of this user that
// others can enter is narrowed to the owner's bits (best effort). Parents
// are created with the usual mode. Windows has no such modes: the folder
// inherits the access list of its parent. False when `path` is not a
// directory afterwards.
bool MakePrivateFolder(const std::string& path);

// One version of a file: which file it is (device and inode), its size,
// modification and change times and mode. A file written again, replaced,
// renamed over or given other permissions has another stamp.
struct FileStamp {
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modifiedNs = 0, changedNs = 0;
  unsigned mode = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at `path` (a symbolic link followed); none when it
// cannot be looked at, and always none on Windows.
std::optional<FileStamp> StampOf(const std::string& path);

// What ReadSmallFile found.
struct SmallFile {
  enum class Status { kRead, kMissing, kNotRegular, kTooLarge, kFailed };
  Status status = Status::kFailed;
  std::string text;   // the whole contents, when read
  unsigned mode = 0;  // the file's permission bits (0 on Windows)
  // The version that was read, taken before reading (none on Windows).
  std::optional<FileStamp> stamp;
  // What was wrong, worded to follow the file's name: "is not a regular
  // file", "is larger than 1 MiB", "cannot be read: Permission denied".
  std::string error;

  bool read() const { return status == Status::kRead; }
};

// Reads a whole file that is a regular file (a symbolic link is followed and
// what it points to is checked) of at most `maxBytes`. Devices, FIFOs,
// sockets and folders are refused before anything is read, and opening never
// waits for a writer; a file that grows past `maxBytes` while it is read is
// refused too. Never reads or keeps more than `maxBytes` + one chunk.
SmallFile ReadSmallFile(const std::string& path, std::size_t maxBytes);

// A size for messages: "1 MiB", "64 KiB", "100 bytes".
std::string SizeText(std::size_t bytes);

}  // namespace pv::platform
