// Declared and stored column order (see column_order.h).
#include "db/tsql/column_order.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "common/text.h"
#include "db/tsql/lexer.h"

namespace pv::db::tsql {
namespace {

constexpr std::string_view kMarker = "/*pv_declared ";

// The (name, position) pairs of the comments in `sql`, in text order.
std::vector<std::pair<std::string, long>> DeclaredPositions(std::string_view sql) {
  std::vector<std::pair<std::string, long>> found;
  for (std::size_t at = sql.find(kMarker); at != std::string_view::npos;
       at = sql.find(kMarker, at + 1)) {
    std::size_t p = at + kMarker.size();
    long position = 0;
    while (p < sql.size() && sql[p] >= '0' && sql[p] <= '9')
      position = position * 10 + (sql[p++] - '0');
    if (p + 1 >= sql.size() || sql[p] != ' ' || sql[p + 1] != '"') continue;
    std::string name;
    for (p += 2; p < sql.size(); ++p) {
      if (sql[p] == '"') {
        if (p + 1 < sql.size() && sql[p + 1] == '"') {
          name.push_back('"');
          ++p;
          continue;
        }
        break;
      }
      name.push_back(sql[p]);
    }
    if (sql.substr(p, 3) == "\"*/") found.emplace_back(std::move(name), position);
  }
  return found;
}

long PositionOf(const std::vector<std::pair<std::string, long>>& positions,
                std::string_view column) {
  for (const auto& [name, position] : positions) {
    if (common::EqualsNoCase(name, column)) return position;
  }
  return -1;
}

}  // namespace

bool StoredLast(std::string_view type, long length) {
  return type == "image" || (type == "varbinary" && length == -1);
}

std::string DeclaredPositionComment(std::size_t position, std::string_view name) {
  if (name.find("*/") != std::string_view::npos) return {};
  return std::string(kMarker) + std::to_string(position) + " " + QuoteName(name) + "*/";
}

std::vector<std::string> DeclaredOrder(std::string_view createSql,
                                       const std::vector<std::string>& stored) {
  if (createSql.find(kMarker) == std::string_view::npos) return stored;
  const auto positions = DeclaredPositions(createSql);
  std::vector<std::pair<long, std::size_t>> keys;  // (declared position or none, stored index)
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const long p = PositionOf(positions, stored[i]);
    keys.emplace_back(p < 0 ? std::numeric_limits<long>::max() : p, i);
  }
  std::sort(keys.begin(), keys.end());
  std::vector<std::string> declared;
  declared.reserve(stored.size());
  for (const auto& key : keys) declared.push_back(stored[key.second]);
  return declared;
}

void DeclaredRankFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const sqlite3_int64 index = sqlite3_value_int64(argv[2]);
  const auto* sql = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const auto* column = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
  long position = -1;
  if (sql && column) position = PositionOf(DeclaredPositions(sql), column);
  // Columns without a declared position come after those with one.
  sqlite3_result_int64(ctx, position < 0 ? (sqlite3_int64{1} << 40) + index : position);
}

}  // namespace pv::db::tsql
