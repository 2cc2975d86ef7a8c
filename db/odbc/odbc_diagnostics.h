// Failures of ODBC calls as DbError: the driver's native error number and the
// text of its diagnostic records, each with its SQLSTATE.
#pragma once

#include <string>
#include <vector>

#include "db/error.h"
#include "platform/odbc_api.h"

namespace pv::db::odbc {

// Numbers used when the driver reports no native number (0) of its own.
inline constexpr long kErrOdbcTimeout =
    -2;  // SQLSTATE HYT00/HYT01, as SQL Server clients report it
inline constexpr long kErrOdbcGeneric = -2147467259;  // any other failure without a number
// Failures outside the driver.
inline constexpr long kErrFileOpen = 3002;      // the file to store cannot be opened or read
inline constexpr long kErrNoCurrentRow = 3021;  // Get() before the first or after the last row

struct DiagRecord {
  std::string sqlState;  // five characters, e.g. "42S02"
  long native = 0;
  std::string message;  // UTF-8
};

// The diagnostic records of a handle (at most a handful; very long texts cut).
std::vector<DiagRecord> ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

// The number: the native number of the first error record (the first record
// when all are informational, SQLSTATE class 01); when that is 0, a number
// chosen by its SQLSTATE (connection failures 17, timeouts -2, else
// kErrOdbcGeneric). The description: the distinct messages in order, each
// followed by "(SQLSTATE xxxxx)", joined with "; ". Without any record:
// `what` and the return code.
DbError MakeError(const std::vector<DiagRecord>& records, const std::string& what, SQLRETURN rc);

// True when a record says the link to the server is gone (08S01, 08S02,
// 08003, 08007): the connection cannot be used any more.
bool IsLinkFailure(const std::vector<DiagRecord>& records);

}  // namespace pv::db::odbc
