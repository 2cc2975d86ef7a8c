// Typed values from the columns of an ODBC result, by their SQL type: bit ->
// Bit, integer types -> Integer, float and decimal types -> Float, date and
// time types -> DateTime, binary types -> Binary, everything else -> Text
// (UTF-8). Long values are read with SQLGetData in chunks, whatever their size.
#pragma once

#include <string>
#include <vector>

#include "db/odbc/odbc_session.h"
#include "db/value.h"
#include "platform/odbc_api.h"

namespace pv::db::odbc {

enum class ColumnKind { Text, Integer, Float, Bit, DateTime, TimeOfDay, Binary };

ColumnKind KindOfSqlType(SQLSMALLINT sqlType);

struct ColumnInfo {
  std::string name;
  SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
  ColumnKind kind = ColumnKind::Text;
};

// The columns of the current result of `stmt` (none for a result without rows).
std::vector<ColumnInfo> DescribeColumns(OdbcSession& session, SQLHSTMT stmt);

// The value of column `column` (1-based) of the current row. Columns must be
// read in ascending order, each once.
Value ReadValue(OdbcSession& session, SQLHSTMT stmt, SQLUSMALLINT column, ColumnKind kind);

}  // namespace pv::db::odbc
