// Prepare(): what every SQLite connection of the embedded engine needs before
// it runs translated statements.
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>

#include "db/error.h"
#include "db/tsql/catalog_tables.h"
#include "db/tsql/collation.h"
#include "db/tsql/column_order.h"
#include "db/tsql/conversions.h"
#include "db/tsql/emitter.h"
#include "db/tsql/literals.h"
#include "db/tsql/sql_functions.h"
#include "db/tsql/translator.h"
#include "db/tsql/variables.h"

namespace pv::db::tsql {
namespace {

// --- SQL functions --------------------------------------------------------------

// Reads a value as a number the way SQL Server converts text for arithmetic.
bool AsNumber(sqlite3_context* ctx, sqlite3_value* v, const char* otherType, double* d,
              std::int64_t* i, bool* isInt) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      *i = sqlite3_value_int64(v);
      *d = static_cast<double>(*i);
      *isInt = true;
      return true;
    case SQLITE_FLOAT:
      *d = sqlite3_value_double(v);
      *isInt = false;
      return true;
    case SQLITE_TEXT: {
      const std::string s = TextOf(v);
      if (ParseNumber(s, d, i, isInt)) return true;
      Fail(ctx, 245,
           "Conversion failed when converting the nvarchar value '" + s + "' to data type " +
               otherType + ".");
      return false;
    }
    default:
      Fail(ctx, 402,
           std::string("The data types varbinary and ") + otherType +
               " are incompatible in the add operator.");
      return false;
  }
}

// a + b with SQL Server's meaning: text + text concatenates, binary + binary
// concatenates, a date-time plus a number adds days, otherwise numbers add.
void AddFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_value* a = argv[0];
  sqlite3_value* b = argv[1];
  const int ta = sqlite3_value_type(a);
  const int tb = sqlite3_value_type(b);
  if (ta == SQLITE_NULL || tb == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  if (ta == SQLITE_TEXT && tb == SQLITE_TEXT) {
    std::string s = TextOf(a) + TextOf(b);
    sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    return;
  }
  if (ta == SQLITE_BLOB && tb == SQLITE_BLOB) {
    std::string s;
    const void* pa = sqlite3_value_blob(a);
    const int na = sqlite3_value_bytes(a);
    if (na > 0) s.assign(static_cast<const char*>(pa), static_cast<size_t>(na));
    const void* pb = sqlite3_value_blob(b);
    const int nb = sqlite3_value_bytes(b);
    if (nb > 0) s.append(static_cast<const char*>(pb), static_cast<size_t>(nb));
    sqlite3_result_blob(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    return;
  }
  // A stored date-time plus (or after) a number of days.
  for (int k = 0; k < 2; ++k) {
    sqlite3_value* dv = k == 0 ? a : b;
    sqlite3_value* nv = k == 0 ? b : a;
    const int nt = sqlite3_value_type(nv);
    if (sqlite3_value_type(dv) == SQLITE_TEXT && (nt == SQLITE_INTEGER || nt == SQLITE_FLOAT)) {
      const std::string text = TextOf(dv);
      if (!IsStoredDateTime(text)) continue;
      auto parts = ParseDateTimeText(text);
      auto sum =
          parts ? DateTimeFromDays(DaysSince1900(*parts) + sqlite3_value_double(nv)) : std::nullopt;
      if (!sum) {
        Fail(ctx, 517, "Adding a value to a 'datetime' column caused an overflow.");
        return;
      }
      const std::string s = StoredDateTime(*sum);
      sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
      return;
    }
  }
  double da = 0, db = 0;
  std::int64_t ia = 0, ib = 0;
  bool inta = false, intb = false;
  const char* target = (ta == SQLITE_FLOAT || tb == SQLITE_FLOAT) ? "float" : "int";
  if (!AsNumber(ctx, a, target, &da, &ia, &inta) || !AsNumber(ctx, b, target, &db, &ib, &intb)) {
    return;
  }
  if (inta && intb) {
    std::int64_t r = 0;
    if (__builtin_add_overflow(ia, ib, &r)) {
      Fail(ctx, 8115, "Arithmetic overflow error converting expression to data type bigint.");
      return;
    }
    sqlite3_result_int64(ctx, r);
    return;
  }
  sqlite3_result_double(ctx, da + db);
}

void BitFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_value* v = argv[0];
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
      sqlite3_result_null(ctx);
      return;
    case SQLITE_INTEGER:
      sqlite3_result_int(ctx, sqlite3_value_int64(v) != 0);
      return;
    case SQLITE_FLOAT:
      sqlite3_result_int(ctx, sqlite3_value_double(v) != 0);
      return;
    case SQLITE_TEXT: {
      const std::string s = TextOf(v);
      if (auto bit = BitFromText(s)) {
        sqlite3_result_int(ctx, *bit);
        return;
      }
      Fail(ctx, 245,
           "Conversion failed when converting the nvarchar value '" + s + "' to data type bit.");
      return;
    }
    default:
      Fail(ctx, 529, "Explicit conversion from data type varbinary to bit is not allowed.");
      return;
  }
}

void DateTimeFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_value* v = argv[0];
  std::optional<std::string> stored;
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
      sqlite3_result_null(ctx);
      return;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      if (auto d = DateTimeFromDays(sqlite3_value_double(v))) {
        stored = StoredDateTime(*d);
      } else {
        Fail(ctx, 8115, "Arithmetic overflow error converting expression to data type datetime.");
        return;
      }
      break;
    case SQLITE_TEXT:
      stored = StoredDateTimeFromText(TextOf(v));
      if (!stored) {
        const DbError e = DateTimeTextError(TextOf(v));
        Fail(ctx, e.number(), e.what());
        return;
      }
      break;
    default:
      Fail(ctx, 529, "Explicit conversion from data type varbinary to datetime is not allowed.");
      return;
  }
  sqlite3_result_text(ctx, stored->data(), static_cast<int>(stored->size()), SQLITE_TRANSIENT);
}

// pv_error(number, text): fails the statement with SQL Server's number.
void ErrorFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Fail(ctx, static_cast<long>(sqlite3_value_int64(argv[0])), TextOf(argv[1]));
}

void NewIdFunction(sqlite3_context* ctx, int, sqlite3_value**) {
  thread_local std::mt19937_64 rng{std::random_device{}()};
  unsigned char b[16];
  for (int i = 0; i < 16; i += 8) {
    const std::uint64_t r = rng();
    std::memcpy(b + i, &r, 8);
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s.push_back('-');
    s.push_back(kHex[b[i] >> 4]);
    s.push_back(kHex[b[i] & 15]);
  }
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// --- @@ROWCOUNT and SCOPE_IDENTITY ------------------------------------------------

std::mutex rowCountsMutex;
std::unordered_map<sqlite3*, std::int64_t>& RowCounts() {
  static std::unordered_map<sqlite3*, std::int64_t> counts;
  return counts;
}

void RowCountFunction(sqlite3_context* ctx, int, sqlite3_value**) {
  sqlite3_result_int64(ctx, RowCount(sqlite3_context_db_handle(ctx)));
}

// Called when the handle closes (the function's user data is the handle).
void ForgetRowCount(void* db) {
  std::lock_guard lock(rowCountsMutex);
  RowCounts().erase(static_cast<sqlite3*>(db));
}

// --- Catalog views ----------------------------------------------------------------

constexpr const char* kCatalog = R"sql(
CREATE TEMP TABLE IF NOT EXISTS pv_identity_insert (name TEXT PRIMARY KEY COLLATE NOCASE);

-- One row: the statements that assign variables evaluate their value once
-- in a condition on it (variables.cc).
CREATE TEMP TABLE IF NOT EXISTS pv_one (x);
INSERT INTO pv_one SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM pv_one);

CREATE TEMP VIEW IF NOT EXISTS sysobjects AS
SELECT name COLLATE NOCASE AS name, id,
       (CASE type WHEN 'table' THEN 'U' ELSE 'V' END) COLLATE NOCASE AS xtype,
       (CASE type WHEN 'table' THEN 'U' ELSE 'V' END) COLLATE NOCASE AS type,
       1 AS uid, 0 AS parent_obj
FROM main.pv_catalog_objects;

CREATE TEMP VIEW IF NOT EXISTS "sys.objects" AS
SELECT name COLLATE NOCASE AS name, id AS object_id, 1 AS schema_id,
       (CASE type WHEN 'table' THEN 'U' ELSE 'V' END) COLLATE NOCASE AS type,
       (CASE type WHEN 'table' THEN 'USER_TABLE' ELSE 'VIEW' END) AS type_desc
FROM main.pv_catalog_objects;

CREATE TEMP VIEW IF NOT EXISTS "sys.tables" AS
SELECT name, object_id, schema_id, type, type_desc FROM "sys.objects" WHERE type = 'U';

CREATE TEMP VIEW IF NOT EXISTS "sys.views" AS
SELECT name, object_id, schema_id, type, type_desc FROM "sys.objects" WHERE type = 'V';

CREATE TEMP VIEW IF NOT EXISTS "INFORMATION_SCHEMA.TABLES" AS
SELECT NULL AS TABLE_CATALOG, 'dbo' AS TABLE_SCHEMA, name COLLATE NOCASE AS TABLE_NAME,
       (CASE type WHEN 'table' THEN 'BASE TABLE' ELSE 'VIEW' END) AS TABLE_TYPE
FROM main.pv_catalog_objects;

CREATE TEMP VIEW IF NOT EXISTS "INFORMATION_SCHEMA.COLUMNS" AS
SELECT NULL AS TABLE_CATALOG, 'dbo' AS TABLE_SCHEMA, TABLE_NAME COLLATE NOCASE AS TABLE_NAME,
       COLUMN_NAME COLLATE NOCASE AS COLUMN_NAME, ORDINAL_POSITION, COLUMN_DEFAULT, IS_NULLABLE,
       DATA_TYPE COLLATE NOCASE AS DATA_TYPE, CHARACTER_MAXIMUM_LENGTH
FROM main.pv_catalog_columns;
)sql";

// Indexes on text are ordered by the collation NOCASE, which this engine
// defines itself. A file whose indexes an earlier definition ordered (its
// user_version below kCollationVersion) has them rebuilt once, in a
// transaction, so lookups find every row; a file that cannot be written now
// (read-only, locked past the timeout) keeps its order until a later open.
constexpr int kCollationVersion = 1;

int UserVersion(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  int version = -1;
  if (sqlite3_prepare_v2(db, "PRAGMA main.user_version", -1, &st, nullptr) == SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW) {
    version = sqlite3_column_int(st, 0);
  }
  sqlite3_finalize(st);
  return version;
}

void ReorderTextIndexes(sqlite3* db) {
  const int version = UserVersion(db);
  if (version < 0 || version >= kCollationVersion) return;
  if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return;
  // Another program may have done it meanwhile. Values that the collation
  // now finds equal in a unique index leave that index as it was (the
  // rebuild would fail every time): it is marked done all the same.
  int rc = SQLITE_OK;
  if (UserVersion(db) < kCollationVersion) {
    rc = sqlite3_exec(db, "REINDEX NOCASE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK || (rc & 0xFF) == SQLITE_CONSTRAINT) {
      const std::string mark = "PRAGMA main.user_version = " + std::to_string(kCollationVersion);
      rc = sqlite3_exec(db, mark.c_str(), nullptr, nullptr, nullptr);
    }
  }
  if (rc == SQLITE_OK && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return;
  sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void Check(sqlite3* db, int rc) {
  if (rc != SQLITE_OK) throw MapError(sqlite3_extended_errcode(db), sqlite3_errmsg(db));
}

}  // namespace

void SetRowCount(sqlite3* db, std::int64_t rows) {
  std::lock_guard lock(rowCountsMutex);
  RowCounts()[db] = rows;
}

std::int64_t RowCount(sqlite3* db) {
  std::lock_guard lock(rowCountsMutex);
  auto it = RowCounts().find(db);
  return it == RowCounts().end() ? 0 : it->second;
}

void AfterStatement(sqlite3* db, sqlite3_stmt* st, std::int64_t rows) {
  SetRowCount(db, rows);
  const char* sql = sqlite3_sql(st);
  if (!sql) return;
  const std::string_view text(sql);
  if (text.size() >= kNoIdentityMark.size() &&
      text.substr(text.size() - kNoIdentityMark.size()) == kNoIdentityMark) {
    sqlite3_set_last_insert_rowid(db, 0);
  }
}

void Prepare(sqlite3* db) {
  // Double-quoted text is a name, never a string (SQL Server's
  // QUOTED_IDENTIFIER ON): an unknown "name" must fail, not become text.
  Check(db, sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr));
  Check(db, sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr));
  // NOCASE, like(), upper(), lower() as SQL Server compares and cases text.
  Check(db, RegisterTextFunctions(db));
  const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  Check(db, sqlite3_create_function(db, "pv_add", 2, det, nullptr, AddFunction, nullptr, nullptr));
  Check(db, sqlite3_create_function(db, "pv_bit", 1, det, nullptr, BitFunction, nullptr, nullptr));
  Check(db, sqlite3_create_function(db, "pv_datetime", 1, det, nullptr, DateTimeFunction, nullptr,
                                    nullptr));
  Check(db, sqlite3_create_function(db, "pv_error", 2, SQLITE_UTF8, nullptr, ErrorFunction, nullptr,
                                    nullptr));
  Check(db, sqlite3_create_function(db, "pv_newid", 0, SQLITE_UTF8, nullptr, NewIdFunction, nullptr,
                                    nullptr));
  Check(db, sqlite3_create_function(db, "pv_declared_rank", 3, det, nullptr, DeclaredRankFunction,
                                    nullptr, nullptr));
  Check(db, RegisterConversionFunctions(db));
  Check(db, RegisterVariableFunctions(db));
  Check(db, RegisterCatalogTables(db));
  Check(db, sqlite3_create_function_v2(db, "pv_rowcount", 0, SQLITE_UTF8, db, RowCountFunction,
                                       nullptr, nullptr, ForgetRowCount));
  Check(db, sqlite3_exec(db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr));
  Check(db, sqlite3_exec(db, kCatalog, nullptr, nullptr, nullptr));
  ReorderTextIndexes(db);
}

}  // namespace pv::db::tsql
