// T-SQL's reserved keywords (those that cannot name a column unquoted).
#pragma once

#include "db/tsql/lexer.h"

namespace pv::db::tsql {

// True for a Word token that is one of T-SQL's reserved keywords, in any case.
bool IsReservedWord(const Token& t);

}  // namespace pv::db::tsql
