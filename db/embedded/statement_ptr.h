// The one owner of a prepared SQLite statement in the engine: the statement
// is finalized when its owner goes, on every path out, thrown or not.
#pragma once

#include <sqlite3.h>

#include <memory>

namespace pv::db::embedded {

struct StatementFinalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Prepares the first statement of `sql` on `db` into `out`; returns SQLite's
// result code (`out` holds nothing unless it is SQLITE_OK and `sql` holds a
// statement). `tail`, when given, is set to the text after that statement.
inline int PrepareStatement(sqlite3* db, const char* sql, int bytes, StatementPtr& out,
                            const char** tail = nullptr) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql, bytes, &raw, tail);
  out.reset(raw);
  return rc;
}

}  // namespace pv::db::embedded
