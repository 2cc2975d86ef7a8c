// Helpers shared by the SQL functions the engine registers on its SQLite
// connections.
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace pv::db::tsql {

// Fails the function call with SQL Server's number: MapError reads the
// "[number] " prefix back.
inline void Fail(sqlite3_context* ctx, long number, const std::string& text) {
  const std::string msg = "[" + std::to_string(number) + "] " + text;
  sqlite3_result_error(ctx, msg.c_str(), static_cast<int>(msg.size()));
}

// A value's text as a view into SQLite's copy, valid while the value is.
inline std::string_view TextViewOf(sqlite3_value* v) {
  const unsigned char* p = sqlite3_value_text(v);
  return p ? std::string_view(reinterpret_cast<const char*>(p),
                              static_cast<size_t>(sqlite3_value_bytes(v)))
           : std::string_view();
}

inline std::string TextOf(sqlite3_value* v) { return std::string(TextViewOf(v)); }

}  // namespace pv::db::tsql
