// Temp photo files: a photo never travels straight from one database to the
// other; its bytes are streamed from the source row into a fixed file in the
// photo folder and that file is then streamed into the target row. One file
// name per kind of photo and per installation, overwritten by the next
// transfer of the same kind and left on disk afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "db/connection.h"

namespace pv::photos {

// Number reported when a temp photo file cannot be written.
inline constexpr long kErrWriteToFileFailed = 3004;
// Number reported when the disk (or the user's quota) has no room left for a
// temp photo file: Windows' ERROR_DISK_FULL. db::IsTransient counts it as
// passing, so the change that needed the file is kept for a later try.
inline constexpr long kErrDiskFull = 112;

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

// Streams `column` of the row of `table` whose id is `id` on `source` into the
// file at `path`, replacing it, a chunk at a time (the photo is never whole in
// memory). True when the file holds the photo; false, with the file left as
// it was, when the row has none (no row, Null or no bytes). Throws db::DbError: kErrDiskFull
// when the disk or quota is full, kErrWriteToFileFailed when the file cannot
// be written otherwise (no folder, no permission), or the engine's failure of
// the read.
bool SaveImageToFile(db::Connection& source, const std::string& table, const std::string& column,
                     std::int64_t id, const std::filesystem::path& path);

}  // namespace pv::photos
