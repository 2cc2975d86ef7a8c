// Temp photo files: a photo never travels straight from one database to the
// other; its bytes are written to a fixed file in the photo folder and that
// file is then loaded into the target row. One file name per kind of photo
// and per installation, overwritten by the next transfer of the same kind and
// left on disk afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "db/value.h"

namespace pv::photos {

// Number reported when a temp photo file cannot be written.
inline constexpr long kErrWriteToFileFailed = 3004;

// File name endings after "temp_" + installation number.
inline constexpr std::string_view kPhotoSuffix = ".jpg";             // resident, log, additional
inline constexpr std::string_view kSecondPhotoSuffix = "_2.jpg";     // second photo of a log row
inline constexpr std::string_view kDownloadedPhotoSuffix = "A.jpg";  // additional photo to local

// <appFolder>/photos/
std::filesystem::path PhotoFolder(const std::filesystem::path& appFolder);

// <appFolder>/photos/temp_<installationNumber><suffix>, e.g. temp_00042.jpg.
std::filesystem::path TempPhotoPath(const std::filesystem::path& appFolder,
                                    std::string_view installationNumber, std::string_view suffix);

// Removes the file when it exists; never fails.
void RemoveFileQuietly(const std::filesystem::path& path);

// Writes `bytes` to `path`, creating or replacing the file. Throws
// db::DbError(kErrWriteToFileFailed) naming the path and the reason.
void WritePhotoFile(std::span<const std::uint8_t> bytes, const std::filesystem::path& path);

// The bytes of a photo column as read from a row: a binary value's bytes, or
// the bytes of a text value (a photo stored through a text literal). Empty
// for Null and every other type.
std::span<const std::uint8_t> PhotoBytes(const db::Value& value);

// Writes a binary value to `path`, replacing an existing file. False on any
// failure (no folder, file locked, a value that is not binary); nothing is
// logged, the caller skips the store step.
bool SaveImageToFile(const db::Value& value, const std::filesystem::path& path);

}  // namespace pv::photos
