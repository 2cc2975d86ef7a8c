// Small routines on single queue rows: removing a worked row from the local
// UpdateQueue, removing an applied row from the central UpdateQueue, and the
// largest id of a local table.
#pragma once

#include <cstdint>
#include <string>

#include "common/log_fn.h"
#include "db/connection.h"

namespace pv::sync {

// "Delete From UpdateQueue Where id = <id>;" on the local connection. A failure
// is logged as "RemoveQueue()" and the row stays; false then.
bool RemoveQueue(db::Connection& local, std::int64_t id, const common::LogFn& writeLog);

// Makes `homeDatabase` the central connection's current database, then
// "Delete From UpdateQueue Where id = <id>;". Neither opens nor closes the
// connection. A failure is logged as "RemoveQueueCX()" and the central row
// stays; false then.
bool RemoveQueueCX(db::Connection& central, const std::string& homeDatabase, std::int64_t id,
                   const common::LogFn& writeLog);

// "Select Top 1 id From <table> Order By id Desc" on the local connection:
// the largest id, 0 when the table is empty or on any failure (silent).
std::int64_t GetTopID(db::Connection& local, const std::string& table);

}  // namespace pv::sync
