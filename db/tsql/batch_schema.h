// The schema as the statements of one batch leave it. A batch is translated
// as a whole before any of it runs, so a table created, altered or dropped
// earlier in the batch must already be known as it will be to the statements
// after it; everything else is asked of the database's own schema.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "db/tsql/translator.h"

namespace pv::db::tsql {

class BatchSchema : public SchemaLookup {
 public:
  explicit BatchSchema(const SchemaLookup& database) : schema_(database) {}

  // A table as a statement of the batch leaves it.
  struct TableShape {
    bool exists = true;
    std::vector<std::string> columns;
    std::vector<std::string> types;  // lower-case, as SchemaLookup gives them
    std::string identity;
    bool reordered = false;  // stored in another order than declared
  };
  // Replaces what is known of `table` (CREATE TABLE; DROP with exists false).
  void DefineTable(const std::string& table, TableShape shape);
  // Adds a column (ALTER TABLE ADD) to the table as known so far.
  void AddColumn(const std::string& table, const std::string& column, const std::string& type);
  // Removes a column (ALTER TABLE DROP COLUMN) from the table as known so far.
  void DropColumn(const std::string& table, const std::string& column);

  std::string ColumnType(const std::string& table, const std::string& column) const override;
  std::vector<std::string> ColumnTypes(const std::string& table,
                                       const std::vector<std::string>& columns) const override;
  std::string IdentityColumn(const std::string& table) const override;
  std::vector<std::string> Columns(const std::string& table) const override;
  std::vector<std::string> StarColumns(const std::string& table) const override;

 private:
  const TableShape* Defined(const std::string& table) const;
  // The table's entry, copied from the database's schema when the batch has
  // not defined it yet.
  TableShape& Shape(const std::string& table);

  const SchemaLookup& schema_;
  // Tables defined by earlier statements of the batch (lower-case name).
  std::vector<std::pair<std::string, TableShape>> defined_;
};

}  // namespace pv::db::tsql
