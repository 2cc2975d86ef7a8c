#include "photos/image_transfer.h"

#include <exception>

#include "db/error.h"

namespace pv::photos {

bool UpdateImageInDB(std::int64_t id, const std::string& column, const std::string& table,
                     const std::filesystem::path& path, db::Connection& connection,
                     const common::LogFn& writeLog) {
  if (path.empty()) return false;
  try {
    return connection.StoreFileInColumn(table, column, id, path);
  } catch (const db::DbError& e) {
    if (writeLog) writeLog("UpdateImageInDB()", e.number(), e.description());
  } catch (const std::exception& e) {
    if (writeLog) writeLog("UpdateImageInDB()", 0, e.what());
  }
  return false;
}

}  // namespace pv::photos
