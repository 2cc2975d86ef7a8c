// Reads SQLite column values as the typed values SQL Server would deliver:
// by the column's declared type where it has one (bit, int, datetime,
// varbinary, nvarchar, ...), by the stored value's storage class for
// computed columns (text in the stored date-time form "YYYY-MM-DD
// hh:mm:ss.fff" reads as a date-time there).
#pragma once

#include <sqlite3.h>

#include "db/value.h"

namespace pv::db::embedded {

enum class ColumnKind { Storage, Bit, Integer, Float, DateTime, Binary, Text };

// The kind for a declared type ("nvarchar(50)", "BIT", nullptr for computed).
ColumnKind KindOfDeclaredType(const char* declared);

Value ReadColumn(sqlite3_stmt* st, int index, ColumnKind kind);

}  // namespace pv::db::embedded
