// Loading a temp photo file into the binary column of one row, local or
// central.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "common/log_fn.h"
#include "db/connection.h"

namespace pv::photos {

// Stores the bytes of the file at `path` into `column` of the row of `table`
// whose id is `id`, on `connection`. The file is streamed, never held in
// memory whole. False without touching anything when `path` is empty, and
// false without a log line when there is no such row. A failure (statement
// rejected, file missing or unreadable, row not writable) writes
// "UpdateImageInDB()" with its number and text to `writeLog` and gives
// false. It returns at once; nothing else runs in between.
bool UpdateImageInDB(std::int64_t id, const std::string& column, const std::string& table,
                     const std::filesystem::path& path, db::Connection& connection,
                     const common::LogFn& writeLog);

}  // namespace pv::photos
