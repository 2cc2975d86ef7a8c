#include "db/tsql/sqlite_schema.h"

#include "db/tsql/lexer.h"

namespace pv::db::tsql {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

struct Stmt {
  sqlite3_stmt* s = nullptr;
  ~Stmt() { sqlite3_finalize(s); }
};

std::string ColumnText(sqlite3_stmt* s, int i) {
  const unsigned char* p = sqlite3_column_text(s, i);
  return p ? std::string(reinterpret_cast<const char*>(p)) : std::string();
}

}  // namespace

std::string TypeNameOfDeclared(std::string_view declared) {
  size_t end = declared.find('(');
  if (end == std::string_view::npos) end = declared.size();
  std::string_view base = declared.substr(0, end);
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  while (!base.empty() && base.front() == ' ') base.remove_prefix(1);
  std::string r = ToLower(base);
  if (r == "integer") return "bigint";
  return r;
}

size_t SqliteSchema::NoCaseHash::operator()(std::string_view s) const {
  size_t h = 1469598103934665603ull;
  for (char c : s) {
    h ^= static_cast<unsigned char>(Lower(c));
    h *= 1099511628211ull;
  }
  return h;
}

bool SqliteSchema::NoCaseEqual::operator()(std::string_view a, std::string_view b) const {
  return EqualsNoCase(a, b);
}

SqliteSchema::SqliteSchema(sqlite3* db) : db_(db) {}

SqliteSchema::~SqliteSchema() { sqlite3_finalize(version_); }

void SqliteSchema::Invalidate() const { cache_.clear(); }

void SqliteSchema::BeginTranslate() const {
  if (!version_ &&
      sqlite3_prepare_v2(db_, "PRAGMA schema_version", -1, &version_, nullptr) != SQLITE_OK) {
    version_ = nullptr;
    cache_.clear();
    return;
  }
  long long v = -1;
  if (sqlite3_step(version_) == SQLITE_ROW) v = sqlite3_column_int64(version_, 0);
  sqlite3_reset(version_);
  if (v != schemaVersion_ || v < 0) {
    cache_.clear();
    schemaVersion_ = v;
  }
}

const SqliteSchema::Table& SqliteSchema::Load(const std::string& table) const {
  auto it = cache_.find(std::string_view(table));
  if (it != cache_.end()) return it->second;
  Table t;
  Stmt info;
  if (sqlite3_prepare_v2(db_, "SELECT name, type, pk FROM pragma_table_info(?1)", -1, &info.s,
                         nullptr) == SQLITE_OK) {
    sqlite3_bind_text(info.s, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    std::string rowidKey;
    int keys = 0;
    while (sqlite3_step(info.s) == SQLITE_ROW) {
      t.exists = true;
      std::string name = ColumnText(info.s, 0);
      const std::string declared = ColumnText(info.s, 1);
      if (sqlite3_column_int(info.s, 2) > 0) {
        ++keys;
        if (EqualsNoCase(declared, "INTEGER")) rowidKey = name;
      }
      t.types.push_back(TypeNameOfDeclared(declared));
      t.columns.push_back(std::move(name));
    }
    // The translator gives only an identity column AUTOINCREMENT.
    if (keys == 1 && !rowidKey.empty()) {
      Stmt sql;
      if (sqlite3_prepare_v2(db_,
                             "SELECT sql FROM sqlite_schema WHERE type = 'table' AND name = ?1 "
                             "COLLATE NOCASE",
                             -1, &sql.s, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(sql.s, 1, table.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(sql.s) == SQLITE_ROW) {
          const std::string text = ToLower(ColumnText(sql.s, 0));
          if (text.find("autoincrement") != std::string::npos) t.identity = rowidKey;
        }
      }
    }
  }
  return cache_.emplace(table, std::move(t)).first->second;
}

int SqliteSchema::Table::Find(std::string_view column, size_t hint) const {
  const size_t n = columns.size();
  for (size_t k = 0; k < n; ++k) {
    const size_t i = (hint + k) % n;
    if (columns[i].size() == column.size() && EqualsNoCase(columns[i], column)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::string SqliteSchema::ColumnType(const std::string& table, const std::string& column) const {
  const Table& t = Load(table);
  const int i = t.Find(column, 0);
  return i < 0 ? std::string() : t.types[static_cast<size_t>(i)];
}

std::vector<std::string> SqliteSchema::ColumnTypes(const std::string& table,
                                                   const std::vector<std::string>& columns) const {
  const Table& t = Load(table);
  std::vector<std::string> types;
  types.reserve(columns.size());
  size_t hint = 0;
  for (const std::string& c : columns) {
    const int i = t.Find(c, hint);
    if (i < 0) {
      types.emplace_back();
    } else {
      types.push_back(t.types[static_cast<size_t>(i)]);
      hint = static_cast<size_t>(i) + 1;
    }
  }
  return types;
}

std::string SqliteSchema::IdentityColumn(const std::string& table) const {
  return Load(table).identity;
}

std::vector<std::string> SqliteSchema::Columns(const std::string& table) const {
  return Load(table).columns;
}

}  // namespace pv::db::tsql
