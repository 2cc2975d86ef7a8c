// The two tables the catalog views (sysobjects, sys.objects, sys.tables,
// sys.views, INFORMATION_SCHEMA.TABLES and .COLUMNS) read: the tables and
// views of the main database (pv_catalog_objects) and their columns
// (pv_catalog_columns), as SQLite's own catalog describes them.
//
// Each SQLite connection keeps their rows and computes them again only when
// the database's schema version moves (a table created, altered or dropped
// by any program), so a catalog question costs a look at that version and a
// walk over the kept rows of the table it names. Rows made inside a write
// transaction serve that statement only: the transaction may still roll its
// schema back to a version already seen.
#pragma once

#include <sqlite3.h>

namespace pv::db::tsql {

// Registers both tables on `db`; SQLITE_OK or SQLite's error code.
int RegisterCatalogTables(sqlite3* db);

}  // namespace pv::db::tsql
