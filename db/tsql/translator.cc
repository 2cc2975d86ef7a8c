#include "db/tsql/translator.h"

namespace pv::db::tsql {

std::vector<Statement> Translate(std::string_view batch, const SchemaLookup&) {
  Statement s;
  s.sql = std::string(batch);
  return {s};
}

void Prepare(sqlite3*) {}

DbError MapError(int sqliteExtendedCode, const std::string& sqliteMessage) {
  return DbError(sqliteExtendedCode, sqliteMessage);
}

}  // namespace pv::db::tsql
