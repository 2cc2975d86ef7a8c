#include "db/connection.h"

#include <cstddef>

namespace pv::db {

namespace {

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string AdoConnectionString(const ConnectionParams& p) {
  return "MSDASQL;DRIVER={SQL Server};SERVER=" + p.server + "," + p.port +
         ";trusted_connection=no;user id= " + p.user + ";password=" + p.password +
         ";database=" + p.database + ";";
}

int Rowset::FindColumn(const std::string& name) const {
  const int n = ColumnCount();
  for (int i = 0; i < n; ++i) {
    if (EqualsNoCase(ColumnName(i), name)) return i;
  }
  return -1;
}

const Value& Rowset::Get(const std::string& name) const {
  const int index = FindColumn(name);
  if (index < 0) {
    throw DbError(kErrNoSuchColumn,
                  "Item cannot be found in the collection corresponding to the requested name or "
                  "ordinal: " +
                      name);
  }
  return Get(index);
}

}  // namespace pv::db
