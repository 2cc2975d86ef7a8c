#include "db/tsql/catalog_tables.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/text.h"
#include "db/tsql/sql_functions.h"

namespace pv::db::tsql {

namespace {

// What one table serves: its columns, typed as SQL Server types them (the
// first is the name of the table or view a row is about), and the query
// that computes its rows.
struct Source {
  const char* declaration;
  const char* query;
};

constexpr Source kObjects = {"CREATE TABLE x(name nvarchar(128), id int, type nvarchar(10))",
                             R"sql(SELECT name, rowid, type FROM main.sqlite_schema
WHERE type IN ('table', 'view') AND name NOT LIKE 'sqlite\_%' ESCAPE '\')sql"};

// A column's position is its declared one, also where the table stores its
// large binary columns last (the declared order is kept in the CREATE TABLE
// text's comments, read by pv_declared_rank).
constexpr Source kColumns = {
    "CREATE TABLE x(TABLE_NAME nvarchar(128), COLUMN_NAME nvarchar(128), ORDINAL_POSITION int, "
    "COLUMN_DEFAULT nvarchar(4000), IS_NULLABLE varchar(3), DATA_TYPE nvarchar(128), "
    "CHARACTER_MAXIMUM_LENGTH int)",
    R"sql(SELECT TABLE_NAME, COLUMN_NAME, ORDINAL_POSITION, COLUMN_DEFAULT, IS_NULLABLE,
       (CASE base WHEN 'integer' THEN 'bigint' ELSE base END),
       (CASE WHEN base IN ('nvarchar', 'varchar', 'nchar', 'char', 'varbinary', 'binary')
                  AND instr(decl, '(') > 0
             THEN CAST(substr(decl, instr(decl, '(') + 1) AS INTEGER) END)
FROM (SELECT m.name AS TABLE_NAME, p.name AS COLUMN_NAME,
             (CASE WHEN instr(m.sql, '/*pv_declared ') = 0 THEN p.cid + 1
                   ELSE (SELECT count(*) FROM pragma_table_info(m.name, 'main') AS q
                         WHERE pv_declared_rank(m.sql, q.name, q.cid)
                               <= pv_declared_rank(m.sql, p.name, p.cid)) END)
                 AS ORDINAL_POSITION, p.dflt_value AS COLUMN_DEFAULT,
             (CASE WHEN p."notnull" THEN 'NO' ELSE 'YES' END) AS IS_NULLABLE,
             p.type AS decl,
             lower(trim(CASE WHEN instr(p.type, '(') > 0
                             THEN substr(p.type, 1, instr(p.type, '(') - 1)
                             ELSE p.type END)) AS base
      FROM main.sqlite_schema AS m, pragma_table_info(m.name, 'main') AS p
      WHERE m.type IN ('table', 'view') AND m.name NOT LIKE 'sqlite\_%' ESCAPE '\'))sql"};

// A name as the lookup key: ASCII letters lowered, trailing blanks dropped
// (the views compare names without case and without trailing blanks). False
// for a name with other characters, whose rows every lookup walks.
bool KeyOf(std::string_view name, std::string& key) {
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  key.clear();
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
    key.push_back(common::AsciiLower(c));
  }
  return true;
}

// The rows of one computation, their values copied out of the query.
struct Rows {
  std::vector<std::vector<sqlite3_value*>> rows;
  std::unordered_map<std::string, std::vector<std::size_t>> byKey;
  std::vector<std::size_t> unkeyed;  // names with other than ASCII characters

  Rows() = default;
  Rows(const Rows&) = delete;
  Rows& operator=(const Rows&) = delete;
  ~Rows() {
    for (auto& row : rows) {
      for (sqlite3_value* v : row) sqlite3_value_free(v);
    }
  }
};

struct Table : sqlite3_vtab {
  sqlite3* db = nullptr;
  const Source* source = nullptr;
  sqlite3_stmt* version = nullptr;
  long long keptVersion = -1;
  std::shared_ptr<const Rows> kept;

  ~Table() { sqlite3_finalize(version); }

  int Fail(int rc) {
    sqlite3_free(zErrMsg);
    zErrMsg = sqlite3_mprintf("catalog: %s", sqlite3_errmsg(db));
    return rc;
  }

  // The rows for the schema the running statement sees.
  int Current(std::shared_ptr<const Rows>& out) {
    int rc = SQLITE_OK;
    if (!version) rc = sqlite3_prepare_v2(db, "PRAGMA main.schema_version", -1, &version, nullptr);
    if (rc != SQLITE_OK) return Fail(rc);
    rc = sqlite3_step(version);
    const long long now = rc == SQLITE_ROW ? sqlite3_column_int64(version, 0) : -1;
    sqlite3_reset(version);
    if (rc != SQLITE_ROW) return Fail(rc);
    if (kept && now == keptVersion) {
      out = kept;
      return SQLITE_OK;
    }
    auto made = std::make_shared<Rows>();
    rc = Compute(*made);
    if (rc != SQLITE_OK) return rc;
    out = made;
    if (sqlite3_txn_state(db, "main") != SQLITE_TXN_WRITE) {
      kept = std::move(made);
      keptVersion = now;
    }
    return SQLITE_OK;
  }

  int Compute(Rows& into) {
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v2(db, source->query, -1, &st, nullptr);
    if (rc != SQLITE_OK) return Fail(rc);
    const int columns = sqlite3_column_count(st);
    std::string key;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      std::vector<sqlite3_value*> row;
      row.reserve(static_cast<std::size_t>(columns));
      for (int i = 0; i < columns; ++i) {
        sqlite3_value* v = sqlite3_value_dup(sqlite3_column_value(st, i));
        if (!v) {
          for (sqlite3_value* made : row) sqlite3_value_free(made);
          sqlite3_finalize(st);
          return SQLITE_NOMEM;
        }
        row.push_back(v);
      }
      const std::size_t n = into.rows.size();
      if (KeyOf(TextViewOf(row[0]), key)) {
        into.byKey[key].push_back(n);
      } else {
        into.unkeyed.push_back(n);
      }
      into.rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) {
      rc = Fail(rc);
      sqlite3_finalize(st);
      return rc;
    }
    sqlite3_finalize(st);
    return SQLITE_OK;
  }
};

struct Cursor : sqlite3_vtab_cursor {
  std::shared_ptr<const Rows> rows;
  // The rows walked, by number; all of them when `all`.
  std::vector<std::size_t> picked;
  bool all = false;
  std::size_t at = 0;

  std::size_t Count() const { return all ? rows->rows.size() : picked.size(); }
  // The row's number among all rows: its rowid, the same in every walk
  // (SQLite tells apart the rows of the branches of an OR by it).
  std::size_t Number() const { return all ? at : picked[at]; }
  const std::vector<sqlite3_value*>& Row() const { return rows->rows[Number()]; }
};

const Source* SourceOf(void* aux) { return static_cast<const Source*>(aux); }

int Connect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char**) {
  const int rc = sqlite3_declare_vtab(db, SourceOf(aux)->declaration);
  if (rc != SQLITE_OK) return rc;
  sqlite3_vtab_config(db, SQLITE_VTAB_INNOCUOUS);
  auto* table = new Table;
  table->db = db;
  table->source = SourceOf(aux);
  *out = table;
  return SQLITE_OK;
}

int Disconnect(sqlite3_vtab* vtab) {
  delete static_cast<Table*>(vtab);
  return SQLITE_OK;
}

// An equality on the name narrows the walk to that name's rows; SQLite
// checks every row it is given again, with the view's collation.
int BestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
  info->idxNum = 0;
  info->estimatedCost = 1000;
  for (int i = 0; i < info->nConstraint; ++i) {
    const auto& c = info->aConstraint[i];
    if (c.usable && c.iColumn == 0 && c.op == SQLITE_INDEX_CONSTRAINT_EQ) {
      info->aConstraintUsage[i].argvIndex = 1;
      info->aConstraintUsage[i].omit = 0;
      info->idxNum = 1;
      info->estimatedCost = 10;
      info->estimatedRows = 10;
      break;
    }
  }
  return SQLITE_OK;
}

int Open(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
  *out = new Cursor;
  return SQLITE_OK;
}

int Close(sqlite3_vtab_cursor* cursor) {
  delete static_cast<Cursor*>(cursor);
  return SQLITE_OK;
}

int Filter(sqlite3_vtab_cursor* base, int idxNum, const char*, int argc, sqlite3_value** argv) {
  auto* cursor = static_cast<Cursor*>(base);
  cursor->at = 0;
  cursor->picked.clear();
  const int rc = static_cast<Table*>(base->pVtab)->Current(cursor->rows);
  if (rc != SQLITE_OK) {
    cursor->rows.reset();
    return rc;
  }
  std::string key;
  cursor->all = !(idxNum == 1 && argc == 1 && KeyOf(TextViewOf(argv[0]), key));
  if (cursor->all) return SQLITE_OK;
  const Rows& rows = *cursor->rows;
  if (auto it = rows.byKey.find(key); it != rows.byKey.end()) cursor->picked = it->second;
  cursor->picked.insert(cursor->picked.end(), rows.unkeyed.begin(), rows.unkeyed.end());
  return SQLITE_OK;
}

int Next(sqlite3_vtab_cursor* base) {
  ++static_cast<Cursor*>(base)->at;
  return SQLITE_OK;
}

int Eof(sqlite3_vtab_cursor* base) {
  const auto* cursor = static_cast<Cursor*>(base);
  return !cursor->rows || cursor->at >= cursor->Count();
}

int Column(sqlite3_vtab_cursor* base, sqlite3_context* ctx, int i) {
  const auto& row = static_cast<Cursor*>(base)->Row();
  if (i >= 0 && static_cast<std::size_t>(i) < row.size()) sqlite3_result_value(ctx, row[i]);
  return SQLITE_OK;
}

int RowId(sqlite3_vtab_cursor* base, sqlite3_int64* id) {
  *id = static_cast<sqlite3_int64>(static_cast<Cursor*>(base)->Number());
  return SQLITE_OK;
}

// Eponymous only (no CREATE VIRTUAL TABLE): each connection has one of each.
const sqlite3_module kModule = {
    /* iVersion */ 0,
    /* xCreate */ nullptr,
    /* xConnect */ Connect,
    /* xBestIndex */ BestIndex,
    /* xDisconnect */ Disconnect,
    /* xDestroy */ nullptr,
    /* xOpen */ Open,
    /* xClose */ Close,
    /* xFilter */ Filter,
    /* xNext */ Next,
    /* xEof */ Eof,
    /* xColumn */ Column,
    /* xRowid */ RowId,
    /* xUpdate */ nullptr,
    /* xBegin */ nullptr,
    /* xSync */ nullptr,
    /* xCommit */ nullptr,
    /* xRollback */ nullptr,
    /* xFindFunction */ nullptr,
    /* xRename */ nullptr,
    /* xSavepoint */ nullptr,
    /* xRelease */ nullptr,
    /* xRollbackTo */ nullptr,
    /* xShadowName */ nullptr,
};

}  // namespace

int RegisterCatalogTables(sqlite3* db) {
  int rc =
      sqlite3_create_module(db, "pv_catalog_objects", &kModule, const_cast<Source*>(&kObjects));
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_module(db, "pv_catalog_columns", &kModule, const_cast<Source*>(&kColumns));
  }
  return rc;
}

}  // namespace pv::db::tsql
