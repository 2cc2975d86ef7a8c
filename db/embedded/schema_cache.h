// Declared column types of the open database for the T-SQL front, read from
// the catalog once per table and dropped whenever the schema changes.
#pragma once

#include <sqlite3.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "db/tsql/translator.h"

namespace pv::db::embedded {

class SchemaCache : public tsql::SchemaLookup {
 public:
  explicit SchemaCache(sqlite3* db) : db_(db) {}
  ~SchemaCache() override;
  SchemaCache(const SchemaCache&) = delete;
  SchemaCache& operator=(const SchemaCache&) = delete;

  // Drops what was read when this or another connection changed the schema
  // since; the front calls it at the start of every batch.
  void BeginTranslate() const override;

  // Lower-case type without size ("nvarchar", "bit"); empty when the table
  // or column is unknown. Table names may carry brackets and a "dbo." prefix.
  std::string ColumnType(const std::string& table, const std::string& column) const override;
  // The column that numbers new rows itself: an INTEGER PRIMARY KEY of a
  // table created with AUTOINCREMENT (the form an identity column takes here).
  std::string IdentityColumn(const std::string& table) const override;
  std::vector<std::string> Columns(const std::string& table) const override;

 private:
  struct Table {
    std::vector<std::string> names;                      // declared order and spelling
    std::unordered_map<std::string, std::string> types;  // lower-case name -> base type
    std::string identity;
  };
  const Table& Load(const std::string& table) const;

  sqlite3* db_;
  mutable sqlite3_stmt* version_ = nullptr;
  mutable sqlite3_stmt* tableInfo_ = nullptr;
  mutable sqlite3_stmt* tableSql_ = nullptr;
  mutable long long schemaVersion_ = -1;
  mutable std::unordered_map<std::string, Table> tables_;
};

// "nvarchar(50)" -> "nvarchar", "[bigint] IDENTITY" -> "bigint".
std::string BaseTypeName(const char* declared);

}  // namespace pv::db::embedded
