// Storing a file's bytes into a binary column of one row, streamed in
// chunks: the column is sized with zeroblob() and filled through SQLite's
// incremental blob I/O, inside one transaction so a failure leaves the old
// value in place.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace pv::db::embedded {

class Session;

// Locates the row with "Select id, <column> From <table> Where id = <id>"
// (through the T-SQL front); false when there is none. Throws DbError when a
// statement fails or the file cannot be read.
bool StoreFile(Session& session, const std::string& table, const std::string& column,
               std::int64_t id, const std::filesystem::path& file);

}  // namespace pv::db::embedded
