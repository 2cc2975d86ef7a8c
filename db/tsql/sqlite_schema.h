// SchemaLookup over a SQLite connection: reads the declared types that the
// translated CREATE TABLE statements left in the database, and caches them
// until the schema changes.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/tsql/translator.h"

namespace pv::db::tsql {

class SqliteSchema : public SchemaLookup {
 public:
  explicit SqliteSchema(sqlite3* db);
  ~SqliteSchema() override;
  SqliteSchema(const SqliteSchema&) = delete;
  SqliteSchema& operator=(const SqliteSchema&) = delete;

  std::string ColumnType(const std::string& table, const std::string& column) const override;
  std::vector<std::string> ColumnTypes(const std::string& table,
                                       const std::vector<std::string>& columns) const override;
  std::string IdentityColumn(const std::string& table) const override;
  std::vector<std::string> Columns(const std::string& table) const override;
  // Drops the cache when the database's schema version moved on.
  void BeginTranslate() const override;
  // Drops the cache unconditionally.
  void Invalidate() const;

 private:
  struct NoCaseHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const;
  };
  struct NoCaseEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  struct Table {
    bool exists = false;
    std::vector<std::string> columns;
    std::vector<std::string> types;  // parallel to columns
    std::string identity;
    // Index of `column`, or -1. Looks near `hint` first: statements usually
    // name columns in their declared order.
    int Find(std::string_view column, size_t hint) const;
  };
  const Table& Load(const std::string& table) const;

  sqlite3* db_;
  mutable sqlite3_stmt* version_ = nullptr;
  mutable long long schemaVersion_ = -1;
  mutable std::unordered_map<std::string, Table, NoCaseHash, NoCaseEqual> cache_;
};

// The lower-case SQL Server type name of a SQLite declared type as the
// translator writes it ("NVARCHAR(50)" -> "nvarchar"; the identity rowid
// "INTEGER" -> "bigint").
std::string TypeNameOfDeclared(std::string_view declared);

}  // namespace pv::db::tsql
