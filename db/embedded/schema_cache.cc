#include "db/embedded/schema_cache.h"

#include "db/embedded/instance.h"

namespace pv::db::embedded {

namespace {

std::string Unbracket(std::string s) {
  if (s.size() >= 2 &&
      ((s.front() == '[' && s.back() == ']') || (s.front() == '"' && s.back() == '"'))) {
    return s.substr(1, s.size() - 2);
  }
  return s;
}

// "[dbo].[Names]" -> "Names".
std::string PlainName(const std::string& name) {
  std::string t = name;
  while (!t.empty() && t.front() == ' ') t.erase(t.begin());
  while (!t.empty() && t.back() == ' ') t.pop_back();
  std::size_t split = std::string::npos;
  bool inBracket = false;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '[') inBracket = true;
    if (t[i] == ']') inBracket = false;
    if (t[i] == '.' && !inBracket) split = i;
  }
  if (split != std::string::npos) t = t.substr(split + 1);
  return Unbracket(t);
}

std::string ColumnText(sqlite3_stmt* st, int i) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
  return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(st, i))) : std::string();
}

}  // namespace

std::string BaseTypeName(const char* declared) {
  if (!declared) return {};
  std::string out;
  const char* p = declared;
  while (*p == ' ' || *p == '[' || *p == '"') ++p;
  for (; *p; ++p) {
    char c = *p;
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') {
      out += c;
    } else if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c - 'A' + 'a');
    } else {
      break;
    }
  }
  return out;
}

SchemaCache::~SchemaCache() {
  sqlite3_finalize(version_);
  sqlite3_finalize(tableInfo_);
  sqlite3_finalize(tableSql_);
}

void SchemaCache::BeginTranslate() const {
  if (!version_ &&
      sqlite3_prepare_v2(db_, "PRAGMA schema_version", -1, &version_, nullptr) != SQLITE_OK) {
    tables_.clear();
    return;
  }
  long long v = -1;
  if (sqlite3_step(version_) == SQLITE_ROW) v = sqlite3_column_int64(version_, 0);
  sqlite3_reset(version_);
  if (v != schemaVersion_ || v < 0) {
    tables_.clear();
    schemaVersion_ = v;
  }
}

const SchemaCache::Table& SchemaCache::Load(const std::string& table) const {
  const std::string key = Lower(table);
  auto it = tables_.find(key);
  if (it != tables_.end()) return it->second;
  Table t;
  int pkColumns = 0;
  std::string pkName;
  std::string pkType;
  if (tableInfo_ || sqlite3_prepare_v2(db_, "SELECT name, type, pk FROM pragma_table_info(?1)", -1,
                                       &tableInfo_, nullptr) == SQLITE_OK) {
    sqlite3_bind_text(tableInfo_, 1, table.data(), static_cast<int>(table.size()),
                      SQLITE_TRANSIENT);
    while (sqlite3_step(tableInfo_) == SQLITE_ROW) {
      std::string name = ColumnText(tableInfo_, 0);
      std::string type = ColumnText(tableInfo_, 1);
      if (sqlite3_column_int(tableInfo_, 2) > 0) {
        ++pkColumns;
        pkName = name;
        pkType = Lower(type);
      }
      t.types.emplace(Lower(name), BaseTypeName(type.c_str()));
      t.names.push_back(std::move(name));
    }
    sqlite3_reset(tableInfo_);
    sqlite3_clear_bindings(tableInfo_);
  }
  // An unknown table is not remembered: the batch may be about to create it.
  if (t.names.empty()) {
    static const Table kNone;
    return kNone;
  }
  if (pkColumns == 1 && pkType == "integer" &&
      (tableSql_ || sqlite3_prepare_v2(db_,
                                       "SELECT sql FROM sqlite_master WHERE type = 'table' AND "
                                       "name = ?1 COLLATE NOCASE",
                                       -1, &tableSql_, nullptr) == SQLITE_OK)) {
    sqlite3_bind_text(tableSql_, 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(tableSql_) == SQLITE_ROW &&
        Lower(ColumnText(tableSql_, 0)).find("autoincrement") != std::string::npos) {
      t.identity = pkName;
    }
    sqlite3_reset(tableSql_);
    sqlite3_clear_bindings(tableSql_);
  }
  return tables_.emplace(key, std::move(t)).first->second;
}

std::string SchemaCache::ColumnType(const std::string& table, const std::string& column) const {
  const Table& t = Load(PlainName(table));
  auto it = t.types.find(Lower(PlainName(column)));
  return it == t.types.end() ? std::string() : it->second;
}

std::string SchemaCache::IdentityColumn(const std::string& table) const {
  return Load(PlainName(table)).identity;
}

std::vector<std::string> SchemaCache::Columns(const std::string& table) const {
  return Load(PlainName(table)).names;
}

}  // namespace pv::db::embedded
