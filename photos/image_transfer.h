// Loading a temp photo file into the binary column of one row, local or
// central, and the whole transfer of one photo from row to row.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "db/connection.h"

namespace pv::photos {

// Stores the bytes of the file at `path` into `column` of the row of `table`
// whose id is `id`, on `connection`. The file is streamed, never held in
// memory whole. False without touching anything when `path` is empty or there
// is no such row. Throws db::DbError when the store fails (statement
// rejected, file missing or unreadable, row not writable, connection lost):
// the change that needed the photo fails with it.
bool UpdateImageInDB(std::int64_t id, const std::string& column, const std::string& table,
                     const std::filesystem::path& path, db::Connection& connection);

// One photo from row to row through the temp file `path`: `column` of row
// `fromId` of `table` on `from` is streamed to the file (SaveImageToFile) and
// the file into the same column of row `toId` on `to` (UpdateImageInDB). True
// when the photo was stored; false when the source row has no photo or the
// target row is not there. Throws db::DbError as those two do.
bool TransferPhoto(db::Connection& from, std::int64_t fromId, db::Connection& to, std::int64_t toId,
                   const std::string& table, const std::string& column,
                   const std::filesystem::path& path);

}  // namespace pv::photos
