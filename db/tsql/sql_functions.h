// Helpers shared by the SQL functions the engine registers on its SQLite
// connections.
#pragma once

#include <sqlite3.h>

#include <string>

namespace pv::db::tsql {

// Fails the function call with SQL Server's number: MapError reads the
// "[number] " prefix back.
inline void Fail(sqlite3_context* ctx, long number, const std::string& text) {
  const std::string msg = "[" + std::to_string(number) + "] " + text;
  sqlite3_result_error(ctx, msg.c_str(), static_cast<int>(msg.size()));
}

inline std::string TextOf(sqlite3_value* v) {
  const unsigned char* p = sqlite3_value_text(v);
  return p ? std::string(reinterpret_cast<const char*>(p),
                         static_cast<size_t>(sqlite3_value_bytes(v)))
           : std::string();
}

}  // namespace pv::db::tsql
