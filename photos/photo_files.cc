#include "photos/photo_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>

#include "db/error.h"
#include "platform/file_writes.h"
#include "platform/utf8_paths.h"

namespace pv::photos {

namespace {

// A failed write: the disk or quota full is worth a later try, anything
// else is not.
[[noreturn]] void ThrowWriteError(const std::string& name, int err) {
  bool full = err == ENOSPC;
#ifdef EDQUOT
  full = full || err == EDQUOT;
#endif
  throw db::DbError(full ? kErrDiskFull : kErrWriteToFileFailed,
                    (full ? "There is not enough space on the disk: " : "Write to file failed: ") +
                        name + ": " + std::strerror(err));
}

struct CloseFile {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::filesystem::path PhotoFolder(const std::filesystem::path& appFolder) {
  return appFolder / "photos" / "";
}

std::filesystem::path TempPhotoPath(const std::filesystem::path& appFolder,
                                    std::string_view installationNumber, std::string_view suffix) {
  std::string name = "temp_";
  name += installationNumber;
  name += suffix;
  return appFolder / "photos" / name;
}

void RemoveFileQuietly(const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec)) std::filesystem::remove(path, ec);
}

bool SaveImageToFile(db::Connection& source, const std::string& table, const std::string& column,
                     std::int64_t id, const std::filesystem::path& path) {
  const std::string name = platform::Utf8FromPath(path);
  // Opened at the first byte: a row without a photo leaves the file of the
  // last transfer as it is.
  std::unique_ptr<std::FILE, CloseFile> file;
  bool opened = false;
  try {
    source.ReadColumn(table, column, id, [&](const std::uint8_t* data, std::size_t size) {
      if (size == 0) return;
      if (!file) {
        RemoveFileQuietly(path);
        file.reset(platform::OpenStdioFile(name, "wb"));
        if (!file) ThrowWriteError(name, errno);
        opened = true;
      }
      if (std::fwrite(data, 1, size, file.get()) != size) ThrowWriteError(name, errno);
    });
    if (!opened) return false;
    // The last buffered bytes go to the disk here: a full disk may show only now.
    errno = 0;
    if (std::fclose(file.release()) != 0) ThrowWriteError(name, errno);
  } catch (...) {
    // No half photo is left for a later store to pick up.
    file.reset();
    if (opened) RemoveFileQuietly(path);
    throw;
  }
  return true;
}

}  // namespace pv::photos
