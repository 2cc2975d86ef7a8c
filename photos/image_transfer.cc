#include "photos/image_transfer.h"

#include "photos/photo_files.h"

namespace pv::photos {

bool UpdateImageInDB(std::int64_t id, const std::string& column, const std::string& table,
                     const std::filesystem::path& path, db::Connection& connection) {
  if (path.empty()) return false;
  return connection.StoreFileInColumn(table, column, id, path);
}

bool TransferPhoto(db::Connection& from, std::int64_t fromId, db::Connection& to, std::int64_t toId,
                   const std::string& table, const std::string& column,
                   const std::filesystem::path& path) {
  return SaveImageToFile(from, table, column, fromId, path) &&
         UpdateImageInDB(toId, column, table, path, to);
}

}  // namespace pv::photos
