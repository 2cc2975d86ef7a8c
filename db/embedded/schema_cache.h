// Declared column types of the open database for the T-SQL front, read from
// the catalog once per table. The connection drops them after its own DDL;
// a column asked for but not known makes its table be read again once per
// batch (another program added it); and the schema version is compared at
// most once a second for whatever else other programs change.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/embedded/statement_ptr.h"
#include "db/tsql/translator.h"
#include "platform/coarse_clock.h"

namespace pv::db::embedded {

class SchemaCache : public tsql::SchemaLookup {
 public:
  explicit SchemaCache(sqlite3* db) : db_(db) {}
  SchemaCache(const SchemaCache&) = delete;
  SchemaCache& operator=(const SchemaCache&) = delete;

  // Called by the front at the start of every batch.
  void BeginTranslate() const override;
  // Drops everything read (after DDL of this connection).
  void Invalidate() const {
    tables_.clear();
    generation_ = NextGeneration();
  }
  // Moves on whenever what the cache knows changes (unique across caches):
  // a translation made under one value stays right while it stays.
  std::uint64_t generation() const { return generation_; }
  // Something asked for since the last BeginTranslate was not known (a table
  // the batch may create, a column another program may add).
  bool missed() const { return missed_; }

  // Lower-case type without size ("nvarchar", "bit"); empty when the table
  // or column is unknown. Table names may carry brackets and a "dbo." prefix.
  std::string ColumnType(const std::string& table, const std::string& column) const override;
  // The column that numbers new rows itself: an INTEGER PRIMARY KEY of a
  // table created with AUTOINCREMENT (the form an identity column takes here).
  std::string IdentityColumn(const std::string& table) const override;
  // In declared order, also where SQLite stores them in another
  // (db/tsql/column_order.h).
  std::vector<std::string> Columns(const std::string& table) const override;
  std::vector<std::string> StarColumns(const std::string& table) const override;

 private:
  // Names compare without regard to case, looked up without copies.
  struct NoCaseHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const;
  };
  struct NoCaseEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
  };
  template <class V>
  using NameMap = std::unordered_map<std::string, V, NoCaseHash, NoCaseEqual>;

  struct Table {
    std::vector<std::string> names;  // declared order and spelling
    NameMap<std::string> types;      // base type by column name
    std::string identity;
    bool reordered = false;  // stored in another order than `names`
  };
  const Table& Load(std::string_view table) const;
  void CheckVersion() const;
  static std::uint64_t NextGeneration();

  sqlite3* db_;
  mutable StatementPtr version_;
  mutable StatementPtr tableInfo_;
  mutable StatementPtr tableSql_;
  mutable long long schemaVersion_ = -1;
  mutable NameMap<Table> tables_;
  mutable platform::CoarseClock::time_point lastCheck_{};
  mutable std::vector<std::string> reloadedThisBatch_;
  mutable std::uint64_t generation_ = NextGeneration();
  mutable bool missed_ = false;
};

// "nvarchar(50)" -> "nvarchar", "[bigint] IDENTITY" -> "bigint".
std::string BaseTypeName(const char* declared);
// The same into `buffer`, without allocating: at most `capacity` characters
// (a longer name is cut short there).
std::string_view BaseTypeName(const char* declared, char* buffer, std::size_t capacity);

// A table or column name as the catalog spells it: "[dbo].[Names]" ->
// "Names", as a view into the argument.
std::string_view PlainName(std::string_view name);

}  // namespace pv::db::embedded
