// The ODBC driver the SQL Server connections use when the "sqlDriver" setting
// names none: on Windows the SQL Server driver every Windows installation
// has; elsewhere FreeTDS, the SQL Server driver Linux distributions ship.
#pragma once

namespace pv::platform {

#ifdef _WIN32
inline constexpr char kDefaultOdbcDriver[] = "SQL Server";
#else
inline constexpr char kDefaultOdbcDriver[] = "FreeTDS";
#endif

}  // namespace pv::platform
