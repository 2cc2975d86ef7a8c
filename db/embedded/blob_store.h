// Storing a file's bytes into a binary column of one row, streamed in
// chunks: the column is sized with zeroblob() and filled through SQLite's
// incremental blob I/O, inside one transaction so a failure leaves the old
// value in place. Reading a column out of one row the same way, in chunks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "db/connection.h"

namespace pv::db::embedded {

class Session;

// Locates the row with "Select id, <column> From <table> Where id = <id>"
// (through the T-SQL front); false when there is none. Throws DbError when a
// statement fails or the file cannot be read. Memory: a chunk when no column
// stored after this one holds data in the row (tables this engine creates
// store varbinary(max) and image columns after the others, see
// db/tsql/column_order.h); otherwise SQLite builds the whole row record in
// memory once (the sized value and the record: twice the file's size for the
// moment of that statement), its record format having no way to leave room
// in the middle of a row and fill it later.
bool StoreFile(Session& session, const std::string& table, const std::string& column,
               std::int64_t id, const std::filesystem::path& file);

// Locates the row as StoreFile does and hands the bytes of `column` to `sink`
// in chunks of kColumnChunk through SQLite's incremental blob I/O (a text
// value gives its stored bytes). False when there is no row or the value is
// Null. Throws DbError when a statement fails; passes on what `sink` throws.
bool ReadColumn(Session& session, const std::string& table, const std::string& column,
                std::int64_t id, const ColumnSink& sink);

}  // namespace pv::db::embedded
