// The schema as the statements of one batch leave it (see batch_schema.h).
#include "db/tsql/batch_schema.h"

#include "common/text.h"

namespace pv::db::tsql {

const BatchSchema::TableShape* BatchSchema::Defined(const std::string& table) const {
  for (const auto& [name, shape] : defined_) {
    if (common::EqualsNoCase(name, table)) return &shape;
  }
  return nullptr;
}

void BatchSchema::DefineTable(const std::string& table, TableShape shape) {
  for (auto& [name, old] : defined_) {
    if (common::EqualsNoCase(name, table)) {
      old = std::move(shape);
      return;
    }
  }
  defined_.push_back({common::AsciiLower(table), std::move(shape)});
}

BatchSchema::TableShape& BatchSchema::Shape(const std::string& table) {
  if (!Defined(table)) {
    TableShape shape;
    shape.columns = schema_.Columns(table);
    for (const std::string& c : shape.columns) shape.types.push_back(schema_.ColumnType(table, c));
    shape.identity = schema_.IdentityColumn(table);
    shape.reordered = !schema_.StarColumns(table).empty();
    DefineTable(table, std::move(shape));
  }
  for (auto& [name, shape] : defined_) {
    if (common::EqualsNoCase(name, table)) return shape;
  }
  return defined_.back().second;  // not reached: defined above
}

void BatchSchema::AddColumn(const std::string& table, const std::string& column,
                            const std::string& type) {
  TableShape& shape = Shape(table);
  shape.columns.push_back(column);
  shape.types.push_back(type);
}

void BatchSchema::DropColumn(const std::string& table, const std::string& column) {
  TableShape& shape = Shape(table);
  for (size_t i = 0; i < shape.columns.size(); ++i) {
    if (common::EqualsNoCase(shape.columns[i], column)) {
      shape.columns.erase(shape.columns.begin() + static_cast<std::ptrdiff_t>(i));
      shape.types.erase(shape.types.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

std::string BatchSchema::ColumnType(const std::string& table, const std::string& column) const {
  if (defined_.empty()) return schema_.ColumnType(table, column);
  if (const TableShape* shape = Defined(table)) {
    for (size_t i = 0; i < shape->columns.size(); ++i) {
      if (common::EqualsNoCase(shape->columns[i], column)) return shape->types[i];
    }
    return {};
  }
  return schema_.ColumnType(table, column);
}

std::vector<std::string> BatchSchema::ColumnTypes(const std::string& table,
                                                  const std::vector<std::string>& columns) const {
  if (!Defined(table)) return schema_.ColumnTypes(table, columns);
  std::vector<std::string> types;
  types.reserve(columns.size());
  for (const std::string& c : columns) types.push_back(ColumnType(table, c));
  return types;
}

std::string BatchSchema::IdentityColumn(const std::string& table) const {
  if (const TableShape* shape = Defined(table)) return shape->identity;
  return schema_.IdentityColumn(table);
}

std::vector<std::string> BatchSchema::Columns(const std::string& table) const {
  if (const TableShape* shape = Defined(table)) return shape->columns;
  return schema_.Columns(table);
}

std::vector<std::string> BatchSchema::StarColumns(const std::string& table) const {
  if (const TableShape* shape = Defined(table)) {
    return shape->reordered ? shape->columns : std::vector<std::string>();
  }
  return schema_.StarColumns(table);
}

}  // namespace pv::db::tsql
