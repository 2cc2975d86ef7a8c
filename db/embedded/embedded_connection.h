// The Connection of the embedded engine. One connection keeps one SQLite
// handle on its current database for statements, and opens queries on
// separate reader handles (kept in a small pool): a rowset then reads one
// snapshot, its rows fixed when it opened as with a cursor of SQL Server,
// while statements executed during its walk commit at once and do not
// change the rows it still has to return.
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "db/connection.h"
#include "db/tsql/translator.h"

namespace pv::db::embedded {

class Session;

class EmbeddedConnection : public Connection {
 public:
  explicit EmbeddedConnection(std::filesystem::path root);
  ~EmbeddedConnection() override;

  void Open(const ConnectionParams& params) override;
  bool IsOpen() const override;
  void Close() override;
  void SetCommandTimeout(int seconds) override;
  std::int64_t Execute(const std::string& sql) override;
  std::unique_ptr<Rowset> Query(const std::string& sql, Cursor cursor) override;
  std::string CurrentDatabase() override;
  void SetCurrentDatabase(const std::string& name) override;
  bool StoreFileInColumn(const std::string& table, const std::string& column, std::int64_t id,
                         const std::filesystem::path& file) override;
  bool ReadColumn(const std::string& table, const std::string& column, std::int64_t id,
                  const ColumnSink& sink) override;

 private:
  // Statement i of `statements` as a result set from a cached prepared
  // statement of a reader, its literals bound (statement_cache.h); nullptr
  // when it does not run that way.
  std::unique_ptr<Rowset> CachedQuery(const std::vector<tsql::Statement>& statements,
                                      std::size_t i);

  std::shared_ptr<Session> session_;
};

}  // namespace pv::db::embedded
