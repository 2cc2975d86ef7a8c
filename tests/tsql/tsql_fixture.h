// T-SQL batches run the way the service runs them: through the embedded
// engine (translation against the engine's own schema reader, then SQLite) on
// a database of a private instance.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/connection.h"
#include "tests/support/embedded_instance.h"

namespace pv::db::tsql {

class TsqlTest : public pv::testing::EmbeddedTest {
 protected:
  TsqlTest() : cn_(Connect()) {}

  void Run(const std::string& batch) { cn_->Execute(batch); }
  // The rows of the batch's result set.
  std::vector<std::vector<Value>> Rows(const std::string& batch) {
    std::vector<std::vector<Value>> rows;
    auto r = cn_->Query(batch);
    while (r->Next()) {
      rows.emplace_back();
      for (int i = 0; i < r->ColumnCount(); ++i) rows.back().push_back(r->Get(i));
    }
    return rows;
  }
  Value Scalar(const std::string& batch) { return pv::testing::Scalar(*cn_, batch); }
  std::string Text(const std::string& batch) { return Scalar(batch).ToText(); }
  // The number SQL Server would report for `batch`, or 0 when it succeeds.
  long ErrorOf(const std::string& batch, std::string* description = nullptr) {
    return pv::testing::DbErrorOf([&] { cn_->Execute(batch); }, description);
  }

  std::unique_ptr<Connection> cn_;
};

}  // namespace pv::db::tsql
