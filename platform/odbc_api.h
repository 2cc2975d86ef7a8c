// The ODBC headers of the system's driver manager. On Windows they rely on
// the types of <windows.h> without including it, so it comes first there.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

#include <sql.h>
#include <sqlext.h>
#include <sqltypes.h>
#include <sqlucode.h>
