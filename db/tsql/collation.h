// SQL Server's default comparison of text (case-insensitive, accent-sensitive,
// trailing blanks ignored) and the text functions that depend on it, as SQLite
// collation and functions for the embedded engine's connections.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace pv::db::tsql {

// Compares two UTF-8 texts as the collation SQL_Latin1_General_CP1_CI_AS
// does: trailing blanks do not count, letters compare without regard to case
// (every cased letter of the Basic Multilingual Plane), an accented letter
// sorts next to its base letter (Eden < Élodie < Fabrice) yet differs from it.
// Returns <0, 0 or >0.
int CompareText(std::string_view a, std::string_view b);

// T-SQL's LIKE: '%', '_', classes "[a-c]" and "[^a-c]", an optional escape
// character; letters match without regard to case; trailing blanks count.
bool LikeMatch(std::string_view pattern, std::string_view text, int escape = -1);

// Upper and lower case of every cased letter of the Basic Multilingual Plane.
std::string UpperText(std::string_view s);
std::string LowerText(std::string_view s);

// Registers on `db`: the collation NOCASE (replacing SQLite's ASCII-only one,
// so text columns declared COLLATE NOCASE compare as above), like(), upper(),
// lower(), and pv_charindex, pv_datalength, pv_datetime_text (CONVERT of a
// date-time to text with a style), pv_datetime_style (text with a style to a
// date-time).
int RegisterTextFunctions(sqlite3* db);

}  // namespace pv::db::tsql
