#include "db/connection.h"

#include "common/text.h"
#include "db/error.h"

namespace pv::db {

std::string AdoConnectionString(const ConnectionParams& p) {
  return "MSDASQL;DRIVER={SQL Server};SERVER=" + p.server + "," + p.port +
         ";trusted_connection=no;user id= " + p.user + ";password=" + p.password +
         ";database=" + p.database + ";";
}

int Rowset::FindColumn(const std::string& name) const {
  const int n = ColumnCount();
  for (int i = 0; i < n; ++i) {
    if (common::EqualsNoCase(ColumnName(i), name)) return i;
  }
  return -1;
}

const Value& Rowset::Get(const std::string& name) const {
  const int index = FindColumn(name);
  if (index < 0) throw NoSuchColumnError(name);
  return Get(index);
}

}  // namespace pv::db
