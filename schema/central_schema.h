// The installation database on the central server: its eleven tables with
// their keys and indexes, its four views, and CheckForTables, which makes
// them exist and empties the tables before a full upload.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "common/log_fn.h"
#include "db/connection.h"

namespace pv::schema {

struct CentralTable {
  std::string_view name;
  // One command: the CREATE TABLE statement, followed by the table's index
  // statements where it has any (Packages, PinkNotes).
  std::string_view createSql;
  // False only for PinkNotes, whose rows live on the central side and are
  // never removed by an upload.
  bool emptiedWhenPresent;
};

struct CentralView {
  std::string_view name;
  std::string_view createSql;
};

struct CentralIndex {
  std::string_view name;
  std::string_view table;
  std::string_view createSql;
};

// The eleven tables in the order CheckForTables walks them.
std::span<const CentralTable> CentralTables();
// The four views in the order CheckForTables creates them.
std::span<const CentralView> CentralViews();
// The five secondary indexes (their statements are part of their table's command).
std::span<const CentralIndex> CentralIndexes();

// Walks the tables on `central`, whose current database must be the
// installation database: a missing table is created; a present one is emptied
// ("Delete From <table>;"), except PinkNotes. Then each view is created when
// missing and left untouched when present. The first failure writes
// "CheckForTables()" with its number and text to `writeLog` and ends the walk;
// nothing is thrown. Returns true when the walk completed.
bool CheckForTables(db::Connection& central, const common::LogFn& writeLog);

}  // namespace pv::schema
