#include "db/embedded/blob_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "db/embedded/instance.h"
#include "db/embedded/session.h"
#include "db/embedded/statement_ptr.h"
#include "db/error.h"
#include "db/tsql/lexer.h"
#include "platform/utf8_paths.h"

namespace pv::db::embedded {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr long kErrTooLarge = 7119;

StatementPtr PrepareOrThrow(SqliteHandle& h, const std::string& sql) {
  StatementPtr st;
  h.StartStatement();
  const int rc = PrepareStatement(h.get(), sql.c_str(), static_cast<int>(sql.size()), st);
  if (rc != SQLITE_OK) h.ThrowError(rc);
  return st;
}

void StepToEnd(SqliteHandle& h, sqlite3_stmt* st) {
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) h.ThrowError(rc);
}

// Checks the T-SQL lookup as the server would (table and column names)
// without running it, since that would read the old value in full; true when
// the row is there.
bool LookupFindsRow(Session& session, const std::string& lookup, const std::string& table,
                    std::int64_t id) {
  for (const tsql::Statement& st : session.Translate(lookup)) {
    if (st.kind != tsql::Statement::Kind::Sql) {
      session.RunBatch({st});
      continue;
    }
    PrepareOrThrow(session.main(), st.sql);
  }
  SqliteHandle& h = session.main();
  StatementPtr probe =
      PrepareOrThrow(h, "SELECT 1 FROM " + tsql::QuoteName(table) + " WHERE \"id\" = ?1 LIMIT 1");
  sqlite3_bind_int64(probe.get(), 1, id);
  const int rc = sqlite3_step(probe.get());
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) h.ThrowError(rc);
  return false;
}

[[noreturn]] void ThrowFile(const fs::path& file, const std::string& why) {
  throw DbError(kErrFileOpen,
                "File could not be opened: " + platform::Utf8FromPath(file) + " (" + why + ").");
}

// Reads the next part of the file; the file must not end before `want` bytes.
void ReadChunk(std::ifstream& in, const fs::path& file, char* buf, std::size_t want) {
  in.read(buf, static_cast<std::streamsize>(want));
  if (static_cast<std::size_t>(in.gcount()) != want) ThrowFile(file, "the file changed while read");
}

// The row has no rowid to stream into (WITHOUT ROWID table, indexed column):
// bind the whole file as one value.
bool StoreWhole(SqliteHandle& h, const std::string& table, const std::string& column,
                std::int64_t id, std::ifstream& in, const fs::path& file, std::size_t size) {
  std::vector<char> bytes(size);
  if (size > 0) ReadChunk(in, file, bytes.data(), size);
  StatementPtr up = PrepareOrThrow(h, "UPDATE " + tsql::QuoteName(table) + " SET " +
                                          tsql::QuoteName(column) + " = ?1 WHERE \"id\" = ?2");
  sqlite3_bind_blob64(up.get(), 1, bytes.data(), size, SQLITE_STATIC);
  sqlite3_bind_int64(up.get(), 2, id);
  StepToEnd(h, up.get());
  return sqlite3_changes(h.get()) > 0;
}

// False when the row is not there.
bool StoreStreamed(SqliteHandle& h, const std::string& table, const std::string& column,
                   std::int64_t id, std::ifstream& in, const fs::path& file, std::size_t size) {
  sqlite3* db = h.get();
  StatementPtr sel;
  const std::string find =
      "SELECT rowid FROM " + tsql::QuoteName(table) + " WHERE \"id\" = ?1 LIMIT 1";
  if (PrepareStatement(db, find.c_str(), -1, sel) != SQLITE_OK) {
    return StoreWhole(h, table, column, id, in, file, size);
  }
  sqlite3_bind_int64(sel.get(), 1, id);
  const int rc = sqlite3_step(sel.get());
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) h.ThrowError(rc);
  const sqlite3_int64 rowid = sqlite3_column_int64(sel.get(), 0);
  sel.reset();

  // The zeroblob is bound, not made by zeroblob(): SQLite then keeps it
  // unexpanded when nothing with data follows it in the row (the photo as
  // the last column), and expands it once less otherwise.
  StatementPtr up = PrepareOrThrow(h, "UPDATE " + tsql::QuoteName(table) + " SET " +
                                          tsql::QuoteName(column) + " = ?1 WHERE rowid = ?2");
  sqlite3_bind_zeroblob64(up.get(), 1, static_cast<sqlite3_uint64>(size));
  sqlite3_bind_int64(up.get(), 2, rowid);
  StepToEnd(h, up.get());
  up.reset();

  sqlite3_blob* blob = nullptr;
  if (sqlite3_blob_open(db, "main", table.c_str(), column.c_str(), rowid, 1, &blob) != SQLITE_OK) {
    sqlite3_blob_close(blob);
    return StoreWhole(h, table, column, id, in, file, size);
  }
  std::unique_ptr<sqlite3_blob, int (*)(sqlite3_blob*)> guard(blob, &sqlite3_blob_close);
  std::vector<char> buf(std::min(size, kChunk));
  for (std::size_t offset = 0; offset < size;) {
    const std::size_t n = std::min(kChunk, size - offset);
    ReadChunk(in, file, buf.data(), n);
    const int wrc =
        sqlite3_blob_write(blob, buf.data(), static_cast<int>(n), static_cast<int>(offset));
    if (wrc != SQLITE_OK) h.ThrowError(wrc);
    offset += n;
  }
  const int crc = sqlite3_blob_close(guard.release());
  if (crc != SQLITE_OK) h.ThrowError(crc);
  return true;
}

// Hands `size` bytes at `data` to the sink in chunks; an empty value once.
void SinkBytes(const void* data, std::size_t size, const ColumnSink& sink) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::size_t offset = 0;
  do {
    const std::size_t n = std::min(kColumnChunk, size - offset);
    sink(p + offset, n);
    offset += n;
  } while (offset < size);
}

// The value cannot be opened as a blob (WITHOUT ROWID table, a number stored
// in the column): read it whole through a statement.
bool ReadWhole(SqliteHandle& h, const std::string& table, const std::string& column,
               std::int64_t id, const ColumnSink& sink) {
  StatementPtr sel = PrepareOrThrow(h, "SELECT " + tsql::QuoteName(column) + " FROM " +
                                           tsql::QuoteName(table) + " WHERE \"id\" = ?1 LIMIT 1");
  sqlite3_bind_int64(sel.get(), 1, id);
  const int rc = sqlite3_step(sel.get());
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) h.ThrowError(rc);
  if (sqlite3_column_type(sel.get(), 0) == SQLITE_NULL) return false;
  const void* data = sqlite3_column_blob(sel.get(), 0);
  const auto size = static_cast<std::size_t>(sqlite3_column_bytes(sel.get(), 0));
  SinkBytes(data, data == nullptr ? 0 : size, sink);
  return true;
}

}  // namespace

bool ReadColumn(Session& session, const std::string& table, const std::string& column,
                std::int64_t id, const ColumnSink& sink) {
  if (!LookupFindsRow(
          session, "Select id, " + column + " From " + table + " Where id = " + std::to_string(id),
          std::string(PlainName(table)), id)) {
    return false;
  }
  SqliteHandle& h = session.main();
  sqlite3* db = h.get();
  const std::string t(PlainName(table));
  const std::string c(PlainName(column));
  StatementPtr sel;
  const std::string find = "SELECT rowid, typeof(" + tsql::QuoteName(c) + ") FROM " +
                           tsql::QuoteName(t) + " WHERE \"id\" = ?1 LIMIT 1";
  if (PrepareStatement(db, find.c_str(), -1, sel) != SQLITE_OK) {
    return ReadWhole(h, t, c, id, sink);
  }
  sqlite3_bind_int64(sel.get(), 1, id);
  const int rc = sqlite3_step(sel.get());
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) h.ThrowError(rc);
  const sqlite3_int64 rowid = sqlite3_column_int64(sel.get(), 0);
  const std::string type = reinterpret_cast<const char*>(sqlite3_column_text(sel.get(), 1));
  sel.reset();
  if (type == "null") return false;
  if (type != "blob" && type != "text") return ReadWhole(h, t, c, id, sink);

  sqlite3_blob* blob = nullptr;
  if (sqlite3_blob_open(db, "main", t.c_str(), c.c_str(), rowid, 0, &blob) != SQLITE_OK) {
    sqlite3_blob_close(blob);
    return ReadWhole(h, t, c, id, sink);
  }
  std::unique_ptr<sqlite3_blob, int (*)(sqlite3_blob*)> guard(blob, &sqlite3_blob_close);
  const auto size = static_cast<std::size_t>(sqlite3_blob_bytes(blob));
  std::vector<std::uint8_t> buf(std::min(size, kColumnChunk));
  std::size_t offset = 0;
  do {
    const std::size_t n = std::min(kColumnChunk, size - offset);
    if (n > 0) {
      const int rrc =
          sqlite3_blob_read(blob, buf.data(), static_cast<int>(n), static_cast<int>(offset));
      if (rrc != SQLITE_OK) h.ThrowError(rrc);
    }
    sink(buf.data(), n);
    offset += n;
  } while (offset < size);
  return true;
}

bool StoreFile(Session& session, const std::string& table, const std::string& column,
               std::int64_t id, const fs::path& file) {
  if (!LookupFindsRow(
          session, "Select id, " + column + " From " + table + " Where id = " + std::to_string(id),
          std::string(PlainName(table)), id)) {
    return false;
  }
  SqliteHandle& h = session.main();
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(file, ec);
  if (ec) ThrowFile(file, ec.message());
  const auto limit = static_cast<std::uintmax_t>(sqlite3_limit(h.get(), SQLITE_LIMIT_LENGTH, -1));
  if (size > limit) {
    throw DbError(kErrTooLarge, "The file " + platform::Utf8FromPath(file) + " holds " +
                                    std::to_string(size) +
                                    " bytes, more than a binary column can take (" +
                                    std::to_string(limit) + ").");
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) ThrowFile(file, "cannot be read");

  // One transaction: a failure half-way leaves the column as it was.
  const bool own = sqlite3_get_autocommit(h.get()) != 0;
  h.Run(own ? "BEGIN IMMEDIATE" : "SAVEPOINT pv_store_file");
  try {
    if (!StoreStreamed(h, std::string(PlainName(table)), std::string(PlainName(column)), id, in,
                       file, static_cast<std::size_t>(size))) {
      // The row went away since the lookup.
      sqlite3_exec(h.get(), own ? "ROLLBACK" : "ROLLBACK TO pv_store_file; RELEASE pv_store_file",
                   nullptr, nullptr, nullptr);
      return false;
    }
    h.Run(own ? "COMMIT" : "RELEASE pv_store_file");
  } catch (...) {
    sqlite3_exec(h.get(), own ? "ROLLBACK" : "ROLLBACK TO pv_store_file; RELEASE pv_store_file",
                 nullptr, nullptr, nullptr);
    throw;
  }
  return true;
}

}  // namespace pv::db::embedded
