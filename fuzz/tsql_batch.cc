// Translates the input as one T-SQL batch against a few of the site's tables
// and runs what comes out on a fresh in-memory database, opened and prepared
// as the engine opens its files. DbError is the expected answer to bad
// input; crashes, leaks, hangs and runaway allocations are the findings.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "db/embedded/schema_cache.h"
#include "db/embedded/sqlite_handle.h"
#include "db/error.h"
#include "db/tsql/translator.h"

namespace {

using pv::db::embedded::SqliteHandle;

constexpr char kSchema[] = R"(
CREATE TABLE [dbo].[Names] ([id] [int] IDENTITY(1,1) NOT NULL, [resType] [nvarchar](1) NULL,
  [lastName] [nvarchar](50) NULL, [hide] [bit] NULL, [modified] [datetime] NULL,
  [photo] [varbinary](max) NULL, CONSTRAINT [PK_Names] PRIMARY KEY CLUSTERED ([id] ASC))
CREATE NONCLUSTERED INDEX [IX_Names_lastName] ON [dbo].[Names] ([lastName] ASC)
CREATE TABLE [dbo].[UpdateQueue] ([id] [int] IDENTITY(1,1) NOT NULL,
  [tableName] [nvarchar](50) NULL, [resId] [int] NULL, [recordId] [int] NULL)
CREATE TABLE [dbo].[Entries] ([entryId] [smallint] NOT NULL PRIMARY KEY,
  [entryName] [nvarchar](100) NULL, [version] [nvarchar](15) NULL)
GO
INSERT INTO Names (resType, lastName, hide, modified, photo)
  VALUES ('R', N'Smith', 'True', '2026-12-01 10:00:00', 0x0102)
INSERT INTO UpdateQueue (tableName, resId, recordId) VALUES ('Names', 1, 1)
INSERT INTO Entries VALUES (1, 'Main door', '1.0')
)";

// Statements that set a pragma could change the process (heap limits, the
// temporary folder): refused, as ATTACH and VACUUM INTO are by the limit.
int Authorize(void*, int action, const char*, const char* value, const char*, const char*) {
  return action == SQLITE_PRAGMA && value ? SQLITE_DENY : SQLITE_OK;
}

void Run(SqliteHandle& handle, std::string_view batch) {
  pv::db::embedded::SchemaCache schema(handle.get());
  for (const auto& st : pv::db::tsql::Translate(batch, schema)) {
    // Database creation and switches belong to the instance, not to a file.
    if (st.kind == pv::db::tsql::Statement::Kind::Sql) handle.Run(st.sql);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  sqlite3_hard_heap_limit64(64 << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  // A statement may run at most a second (recursive queries run forever).
  auto handle = SqliteHandle::Open(":memory:", 1);
  sqlite3* db = handle->get();
  sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1 << 20);
  Run(*handle, kSchema);
  sqlite3_set_authorizer(db, Authorize, nullptr);
  try {
    Run(*handle, std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const pv::db::DbError&) {
  }
  return 0;
}
