// A query on the local database that is closed when it goes out of scope,
// shared by the full upload and the queued changes.
#pragma once

#include <memory>
#include <string>

#include "db/connection.h"
#include "db/error.h"

namespace pv::sync {

class LocalQuery {
 public:
  LocalQuery(db::Connection& local, const std::string& sql, db::Cursor cursor = db::Cursor::Forward)
      : rows_(local.Query(sql, cursor)) {}
  ~LocalQuery() {
    try {
      rows_->Close();
    } catch (...) {
      // A query that cannot be closed holds nothing the next job or change
      // needs.
    }
  }
  LocalQuery(const LocalQuery&) = delete;
  LocalQuery& operator=(const LocalQuery&) = delete;

  db::Rowset& rows() { return *rows_; }
  bool Next() { return rows_->Next(); }
  // The current row's value of `column`; DbError 3265 when there is none.
  const db::Value& operator[](const char* column) const { return rows_->Get(column); }
  const db::Value& At(int index) const { return rows_->Get(index); }
  int ColumnCount() const { return rows_->ColumnCount(); }

  // Index of `column`; DbError 3265 naming it when the query has no such column.
  int Index(const std::string& table, const std::string& column) const {
    const int i = rows_->FindColumn(column);
    if (i < 0) {
      throw db::DbError(db::kErrNoSuchColumn,
                        "Item cannot be found in the collection corresponding to the requested "
                        "name or ordinal: " +
                            table + "." + column);
    }
    return i;
  }

 private:
  std::unique_ptr<db::Rowset> rows_;
};

}  // namespace pv::sync
