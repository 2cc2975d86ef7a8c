// SQL Server's report of a duplicate key: 2627 naming the PRIMARY KEY or
// UNIQUE constraint, 2601 naming the unique index, each with the key value.
#pragma once

#include <sqlite3.h>

#include <string_view>

#include "db/error.h"

namespace pv::db::tsql {

// `message` is SQLite's "UNIQUE constraint failed: T.a, T.b"; `sql` the
// statement that failed. With `db` (the connection it failed on, its
// statement finished) the constraint or index is found in the schema and,
// for an INSERT or UPDATE, the key value by reading its rows again; without
// it the report names a constraint as SQL Server names an unnamed one.
DbError DuplicateKeyError(sqlite3* db, int code, std::string_view message, std::string_view sql);

}  // namespace pv::db::tsql
