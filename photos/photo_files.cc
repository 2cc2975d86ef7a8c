#include "photos/photo_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "db/error.h"
#include "platform/file_writes.h"
#include "platform/utf8_paths.h"

namespace pv::photos {

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

void WritePhotoFile(std::span<const std::uint8_t> bytes, const std::filesystem::path& path) {
  const std::string name = platform::Utf8FromPath(path);
  auto fail = [&](int err) {
    throw db::DbError(kErrWriteToFileFailed,
                      "Write to file failed: " + name + ": " + std::strerror(err));
  };
  std::FILE* f = platform::OpenStdioFile(name, "wb");
  if (f == nullptr) fail(errno);
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    const int err = errno;
    std::fclose(f);
    fail(err);
  }
  if (std::fclose(f) != 0) fail(errno);
}

std::span<const std::uint8_t> PhotoBytes(const db::Value& value) {
  switch (value.type()) {
    case db::Value::Type::Binary:
      return value.AsBinary();
    case db::Value::Type::Text: {
      const std::string& s = value.AsTextRef();
      return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
    }
    default:
      return {};
  }
}

bool SaveImageToFile(const db::Value& value, const std::filesystem::path& path) {
  if (value.type() != db::Value::Type::Binary || path.empty()) return false;
  try {
    WritePhotoFile(value.AsBinary(), path);
    return true;
  } catch (const db::DbError&) {
    return false;
  }
}

}  // namespace pv::photos
