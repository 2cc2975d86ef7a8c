// SQL Server's conversions where they can fail: text read as a number or a
// date-time, numbers narrowed to an integer type, and division by zero. The
// checks run at translation for literals and in SQL functions for values
// known only per row (pv_convert, pv_div, pv_mod).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string_view>

#include "db/error.h"

namespace pv::db::tsql {

// The failure for text that does not read as a datetime: 242 ("out-of-range
// value") when it has the form of a date whose parts are out of range
// ('2026-02-30', '1700-01-01'), 241 ("Conversion failed") otherwise.
DbError DateTimeTextError(std::string_view text);

// The range of an integer type ("tinyint", "smallint", "int", "bigint");
// false for other types.
bool IntegerRange(std::string_view type, std::int64_t* low, std::int64_t* high);

// Checks a text literal `value` converted to the numeric type `type` ("int",
// "decimal", "float", ...): throws 245 when it is no integer for an integer
// type, 248 when it overflows that type, 8114 when it is no number for a
// decimal or float type. `national` tells N'..' (nvarchar) from '..'.
void CheckNumberText(std::string_view value, bool national, std::string_view type);

// Registers pv_convert(value, type, try), pv_div(a, b) and pv_mod(a, b);
// SQLite's result code.
int RegisterConversionFunctions(sqlite3* db);

}  // namespace pv::db::tsql
