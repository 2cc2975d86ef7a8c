// ODBC connection strings for SQL Server drivers (FreeTDS, the vendor's
// driver), built from the connection fields.
#pragma once

#include <string>
#include <string_view>

#include "db/connection.h"

namespace pv::db::odbc {

// How a driver reads a value in braces. The standard rule (the vendor's SQL
// Server driver and most others): the value runs to the closing '}', and a
// '}' inside is written twice. FreeTDS: the value runs to the first "};"
// (or the closing '}' at the end of the text) and "}}" stays two braces, so
// a value holding "};" cannot be given to it at all.
enum class BraceRule { Doubled, FreeTds };

// FreeTds for a driver named like FreeTDS (its name or its library,
// libtdsodbc), Doubled for any other.
BraceRule BraceRuleFor(std::string_view driver);

// A value as it may stand in an ODBC connection string, blanks included:
// wrapped in braces when it holds ';', '{' or '}' or begins or ends with a
// blank ('}' doubled under the standard rule); unchanged otherwise. Throws DbError when the driver
// cannot take the value (FreeTDS and "};").
std::string QuoteOdbcValue(std::string_view value, BraceRule rule = BraceRule::Doubled);

// "DRIVER={driver};SERVER=server,port;UID=user;PWD=password;DATABASE=database;"
// with every value quoted for the driver (SERVER without the comma when the
// port is empty). User, password and database keep their blanks, as the
// central server's "DBIN" gives them; server and port are trimmed. FreeTDS
// ignores "user id"/"password", hence the keywords.
std::string OdbcConnectionString(const std::string& driver, const ConnectionParams& params);

}  // namespace pv::db::odbc
