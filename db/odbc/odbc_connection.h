// The ODBC engine: a Connection over an ODBC driver (FreeTDS or the vendor's
// SQL Server driver in production). The driver manager is used through its
// wide (UTF-16) functions, which both unixODBC and Windows provide.
//
// Behaviour worth knowing:
// - Open maps the fields with OdbcConnectionString and connects under the
//   login timeout (15 s unless given otherwise); every statement runs under
//   the command timeout (30 s unless given otherwise or SetCommandTimeout
//   says otherwise). 0 means no limit.
// - Execute consumes every result of the text (SQLMoreResults); a failure
//   anywhere in it is thrown.
// - Query reads rows forward whatever the cursor asked for. Before another
//   statement runs on the same connection, the rows a rowset has not read yet
//   are taken into memory, so the connection is never "busy" with them.
// - Failures are DbError with the driver's native number (a number by
//   SQLSTATE when it gives 0) and the diagnostic texts with their SQLSTATEs.
// - IsOpen turns false once the driver reports the link to the server lost.
#pragma once

#include <memory>
#include <string>

#include "db/connection.h"

namespace pv::db::odbc {

inline constexpr int kLoginTimeoutSeconds = 15;
inline constexpr int kDefaultCommandTimeoutSeconds = 30;

}  // namespace pv::db::odbc

namespace pv::db {

// A closed connection that opens through the ODBC driver named `driver`
// (as in odbcinst.ini, e.g. "FreeTDS"), with the two time-outs in seconds
// (0 = none).
std::unique_ptr<Connection> MakeOdbcConnection(
    const std::string& driver, int loginTimeoutSeconds = odbc::kLoginTimeoutSeconds,
    int commandTimeoutSeconds = odbc::kDefaultCommandTimeoutSeconds);

}  // namespace pv::db
