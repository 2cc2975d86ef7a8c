#include "db/embedded/schema_cache.h"

#include <atomic>

#include "common/text.h"
#include "db/tsql/column_order.h"

namespace pv::db::embedded {

namespace {

std::string ColumnText(sqlite3_stmt* st, int i) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
  return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(st, i))) : std::string();
}

}  // namespace

std::string_view PlainName(std::string_view t) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  std::size_t split = std::string_view::npos;
  bool inBracket = false;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '[') inBracket = true;
    if (t[i] == ']') inBracket = false;
    if (t[i] == '.' && !inBracket) split = i;
  }
  if (split != std::string_view::npos) t.remove_prefix(split + 1);
  if (t.size() >= 2 &&
      ((t.front() == '[' && t.back() == ']') || (t.front() == '"' && t.back() == '"'))) {
    t = t.substr(1, t.size() - 2);
  }
  return t;
}

namespace {

// Hands `put` each character of the base type name of `declared`, lower-cased,
// until the name ends or `put` returns false.
template <class Put>
void ScanBaseTypeName(const char* declared, Put put) {
  if (!declared) return;
  const char* p = declared;
  while (*p == ' ' || *p == '[' || *p == '"') ++p;
  for (; *p; ++p) {
    const char c = *p;
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') {
      if (!put(c)) return;
    } else if (c >= 'A' && c <= 'Z') {
      if (!put(static_cast<char>(c - 'A' + 'a'))) return;
    } else {
      return;
    }
  }
}

}  // namespace

std::string BaseTypeName(const char* declared) {
  std::string out;
  ScanBaseTypeName(declared, [&](char c) {
    out += c;
    return true;
  });
  return out;
}

std::string_view BaseTypeName(const char* declared, char* buffer, std::size_t capacity) {
  std::size_t n = 0;
  ScanBaseTypeName(declared, [&](char c) {
    if (n == capacity) return false;
    buffer[n++] = c;
    return true;
  });
  return std::string_view(buffer, n);
}

std::size_t SchemaCache::NoCaseHash::operator()(std::string_view s) const {
  std::size_t h = 1469598103934665603ull;
  for (char c : s) {
    h ^= static_cast<unsigned char>(common::AsciiLower(c));
    h *= 1099511628211ull;
  }
  return h;
}

bool SchemaCache::NoCaseEqual::operator()(std::string_view a, std::string_view b) const {
  return common::EqualsNoCase(a, b);
}

std::uint64_t SchemaCache::NextGeneration() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1);
}

void SchemaCache::BeginTranslate() const {
  reloadedThisBatch_.clear();
  missed_ = false;
  const auto now = platform::CoarseClock::now();
  if (tables_.empty() || now - lastCheck_ < std::chrono::seconds(1)) return;
  lastCheck_ = now;
  CheckVersion();
}

void SchemaCache::CheckVersion() const {
  if (!version_ && PrepareStatement(db_, "PRAGMA schema_version", -1, version_) != SQLITE_OK) {
    Invalidate();
    return;
  }
  long long v = -1;
  if (sqlite3_step(version_.get()) == SQLITE_ROW) v = sqlite3_column_int64(version_.get(), 0);
  sqlite3_reset(version_.get());
  if (v != schemaVersion_ || v < 0) {
    Invalidate();
    schemaVersion_ = v;
  }
}

const SchemaCache::Table& SchemaCache::Load(std::string_view table) const {
  auto it = tables_.find(table);
  if (it != tables_.end()) return it->second;
  static const Table kNone;
  Table t;
  int pkColumns = 0;
  std::string pkName;
  std::string pkType;
  if (tableInfo_ || PrepareStatement(db_, "SELECT name, type, pk FROM pragma_table_info(?1)", -1,
                                     tableInfo_) == SQLITE_OK) {
    sqlite3_stmt* info = tableInfo_.get();
    sqlite3_bind_text(info, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(info)) == SQLITE_ROW) {
      std::string name = ColumnText(info, 0);
      std::string type = ColumnText(info, 1);
      if (sqlite3_column_int(info, 2) > 0) {
        ++pkColumns;
        pkName = name;
        pkType = common::AsciiLower(type);
      }
      t.types.emplace(name, BaseTypeName(type.c_str()));
      t.names.push_back(std::move(name));
    }
    sqlite3_reset(info);
    sqlite3_clear_bindings(info);
    // Columns read only in part (the file could not be read, a lock ran out)
    // would translate an INSERT without a column list into the wrong one:
    // the table stays unknown and the statement meets the failure itself.
    if (rc != SQLITE_DONE) t.names.clear();
  }
  // An unknown table is not remembered: the batch may be about to create it.
  if (t.names.empty()) {
    missed_ = true;
    return kNone;
  }
  // The CREATE text: the identity column, and the declared order where it
  // differs from the stored one. Unread, the table stays unknown as above.
  int rc = SQLITE_ERROR;
  if (tableSql_ || PrepareStatement(db_,
                                    "SELECT sql FROM sqlite_master WHERE type = 'table' AND "
                                    "name = ?1 COLLATE NOCASE",
                                    -1, tableSql_) == SQLITE_OK) {
    sqlite3_stmt* sql = tableSql_.get();
    sqlite3_bind_text(sql, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    rc = sqlite3_step(sql);
    if (rc == SQLITE_ROW) {
      const std::string text = ColumnText(sql, 0);
      if (pkColumns == 1 && pkType == "integer" &&
          common::AsciiLower(text).find("autoincrement") != std::string::npos) {
        t.identity = pkName;
      }
      std::vector<std::string> declared = tsql::DeclaredOrder(text, t.names);
      t.reordered = declared != t.names;
      t.names = std::move(declared);
    }
    sqlite3_reset(sql);
    sqlite3_clear_bindings(sql);
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
    missed_ = true;
    return kNone;
  }
  generation_ = NextGeneration();
  return tables_.emplace(std::string(table), std::move(t)).first->second;
}

std::string SchemaCache::ColumnType(const std::string& table, const std::string& column) const {
  const std::string_view name = PlainName(table);
  const std::string_view col = PlainName(column);
  const Table* t = &Load(name);
  auto it = t->types.find(col);
  if (it == t->types.end() && !t->names.empty()) {
    // Perhaps added by another program since the table was read: read it
    // again, once per batch.
    for (const auto& r : reloadedThisBatch_) {
      if (NoCaseEqual()(r, name)) {
        missed_ = true;
        return {};
      }
    }
    reloadedThisBatch_.emplace_back(name);
    tables_.erase(tables_.find(name));
    t = &Load(name);
    it = t->types.find(col);
  }
  if (it == t->types.end()) {
    missed_ = true;
    return {};
  }
  // An identity column is declared INTEGER here; it holds a bigint.
  return it->second == "integer" ? std::string("bigint") : it->second;
}

std::string SchemaCache::IdentityColumn(const std::string& table) const {
  return Load(PlainName(table)).identity;
}

std::vector<std::string> SchemaCache::Columns(const std::string& table) const {
  return Load(PlainName(table)).names;
}

std::vector<std::string> SchemaCache::StarColumns(const std::string& table) const {
  const Table& t = Load(PlainName(table));
  return t.reordered ? t.names : std::vector<std::string>();
}

}  // namespace pv::db::embedded
