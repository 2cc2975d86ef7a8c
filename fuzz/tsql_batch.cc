// Translates the input as one T-SQL batch against a few of the site's tables
// and runs it on an in-memory database opened as the engine opens its files.
// DbError is the expected answer; crashes, leaks and hangs are findings.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "db/embedded/schema_cache.h"
#include "db/embedded/sqlite_handle.h"
#include "db/error.h"
#include "db/tsql/translator.h"

namespace {

using pv::db::embedded::SqliteHandle;

constexpr char kSchema[] = R"(
CREATE TABLE [dbo].[Names] ([id] [int] IDENTITY(1,1) NOT NULL, [resType] [nvarchar](1) NULL,
  [lastName] [nvarchar](50) NULL, [hide] [bit] NULL, [photo] [varbinary](max) NULL,
  [modified] [datetime] NULL, CONSTRAINT [PK_Names] PRIMARY KEY CLUSTERED ([id] ASC))
CREATE NONCLUSTERED INDEX [IX_Names_lastName] ON [dbo].[Names] ([lastName] ASC)
CREATE TABLE UpdateQueue ([id] [int] IDENTITY(1,1) NOT NULL, [tableName] [nvarchar](50) NULL,
  [resId] [int] NULL, [recordId] [int] NULL)
CREATE TABLE Entries ([entryId] [smallint] NOT NULL PRIMARY KEY, [version] [nvarchar](15))
INSERT INTO Names (resType, lastName, hide, modified, photo)
  VALUES ('R', N'Smith', 'True', '2026-12-01 10:00:00', 0x0102)
INSERT INTO UpdateQueue (tableName, resId, recordId) VALUES ('Names', 1, 1)
INSERT INTO Entries VALUES (1, '1.0'))";

// Kept from the input: setting a pragma (heap limits, the temporary folder
// are the process's) and changing the TEMP schema, which the engine's
// catalog views live in and which the reset below does not restore.
int Authorize(void*, int action, const char* arg1, const char* arg2, const char*, const char*) {
  if (action == SQLITE_PRAGMA) return arg2 ? SQLITE_DENY : SQLITE_OK;
  if (action == SQLITE_ALTER_TABLE) return std::strcmp(arg1, "temp") ? SQLITE_OK : SQLITE_DENY;
  const bool temp = (action >= SQLITE_CREATE_TEMP_INDEX && action <= SQLITE_CREATE_TEMP_VIEW) ||
                    (action >= SQLITE_DROP_TEMP_INDEX && action <= SQLITE_DROP_TEMP_VIEW);
  return temp ? SQLITE_DENY : SQLITE_OK;
}

void Run(SqliteHandle& handle, std::string_view batch) {
  pv::db::embedded::SchemaCache schema(handle.get());
  for (const auto& st : pv::db::tsql::Translate(batch, schema)) {
    // Database creation and switches belong to the instance, not to a file.
    if (st.kind == pv::db::tsql::Statement::Kind::Sql) handle.Run(st.sql);
  }
}

// A handle opened as the engine opens its files, with the schema. A
// statement may run at most a second (recursive queries run forever); ATTACH
// and VACUUM INTO, which would write files, are refused by the limit.
std::unique_ptr<SqliteHandle> Prepared() {
  sqlite3_hard_heap_limit64(64 << 20);  // for the whole process
  auto handle = SqliteHandle::Open(":memory:", 1);
  sqlite3_limit(handle->get(), SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_limit(handle->get(), SQLITE_LIMIT_LENGTH, 1 << 20);
  Run(*handle, kSchema);
  sqlite3_set_authorizer(handle->get(), Authorize, nullptr);
  return handle;
}

// The database as the schema leaves it. Preparing a handle is slow, so one
// is kept and its main database copied back from a model before every run.
SqliteHandle& Fresh() {
  static const std::unique_ptr<SqliteHandle> model = Prepared();
  static std::unique_ptr<SqliteHandle> handle = Prepared();
  sqlite3* db = handle->get();
  if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_backup* copy = sqlite3_backup_init(db, "main", model->get(), "main");
  if (copy) sqlite3_backup_step(copy, -1);
  if (!copy || sqlite3_backup_finish(copy) != SQLITE_OK ||
      sqlite3_exec(db, "DELETE FROM temp.pv_identity_insert", nullptr, nullptr, nullptr)) {
    handle = Prepared();
  }
  return *handle;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  try {
    Run(Fresh(), std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const pv::db::DbError&) {
  }
  return 0;
}
