// The order in which the embedded engine stores a table's columns.
//
// SQLite fills a value sized with zeroblob() through incremental blob I/O
// without building it in memory only when no stored data follows it in the
// row; a zeroblob in the middle of a row is built in full. So CREATE TABLE
// stores the large binary columns (varbinary(max), image) after all the
// others whenever one is declared before another column, and writes each
// column's declared position in a comment after its name in the CREATE text
// SQLite keeps:
//
//   CREATE TABLE "Names" ("id" /*pv_declared 1 "id"*/ INTEGER ...,
//                         "photoDescr" /*pv_declared 3 "photoDescr"*/ ...,
//                         "photo" /*pv_declared 2 "photo"*/ VARBINARY(-1) ...)
//
// The comment lives inside its column's definition, so ALTER TABLE DROP
// COLUMN removes it with the column, and a column ADDed later has none and
// comes last in declared order as well as in stored order (as SQL Server
// appends it). Tables without these comments (all tables of files made
// before, and tables with no large binary column before another) are stored
// in declared order.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

namespace pv::db::tsql {

// True for a column stored after the others: varbinary(max) (length -1) and
// image. `type` is lower-case.
bool StoredLast(std::string_view type, long length);

// The comment written after the name of the column declared at `position`
// (from 1); empty when the name cannot be written inside a comment.
std::string DeclaredPositionComment(std::size_t position, std::string_view name);

// The table's columns in declared order, given its CREATE text and its
// columns in stored order: those with a declared position ordered by it,
// then those without one in stored order.
std::vector<std::string> DeclaredOrder(std::string_view createSql,
                                       const std::vector<std::string>& stored);

// SQL function pv_declared_rank(create text, column name, stored index): a
// key that orders a table's columns in declared order (for the catalog views).
void DeclaredRankFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);

}  // namespace pv::db::tsql
