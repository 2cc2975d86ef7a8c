// The state behind one embedded connection: its instance, the handle on the
// current database, the pool of reader handles for queries, and the running
// of translated batches. Rowsets share it, so they notice when their
// connection was closed under them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/embedded/checkpointer.h"
#include "db/embedded/instance.h"
#include "db/embedded/schema_cache.h"
#include "db/embedded/sqlite_handle.h"
#include "db/embedded/translation_cache.h"
#include "db/tsql/translator.h"
#include "db/tsql/variables.h"
#include "platform/folder_watch.h"

namespace pv::db::embedded {

class Session {
 public:
  explicit Session(std::filesystem::path root) : root_(std::move(root)) {}
  ~Session();

  void Open(const ConnectionParams& params);
  void Close();
  bool IsOpen() const { return open_; }
  // Bumped by every Close: rowsets opened before it are dead.
  std::uint64_t generation() const { return generation_; }

  void SetTimeout(int seconds);
  int timeout() const { return timeoutSeconds_; }

  // Throws 3704 when closed; when the instance went offline (or away) it
  // closes the connection and throws 10054.
  void RequireUsable();

  // Translates a T-SQL batch against the current database's schema.
  std::vector<tsql::Statement> Translate(const std::string& batch);
  // While on, the variables declared by one Translate stay for the next ones
  // (the pieces of one batch); off forgets them.
  void KeepBatchVariables(bool on) {
    if (on) {
      carried_.emplace();
    } else {
      carried_.reset();
    }
  }

  // Runs translated statements from `from` on: SQLite texts on the current
  // database's handle, database creation and switches on the instance.
  // Returns the rows affected by the last statement that reports a count.
  std::int64_t RunBatch(const std::vector<tsql::Statement>& statements, std::size_t from = 0,
                        std::int64_t affected = -1);

  // Whether a Condition statement holds (an IF's test), read on the
  // connection's own handle.
  bool Holds(const tsql::Statement& condition);

  void CreateDatabase(const std::string& name);
  // Refused (3702) for the connection's current database.
  void DropDatabase(const std::string& name);
  void SwitchDatabase(const std::string& name);
  std::string CurrentDatabase() const;

  SqliteHandle& main() { return *main_; }

  // A handle for a query's result set: a pooled reader on the current
  // database, or the main handle itself inside an explicit transaction
  // (where the query must see the transaction's own changes).
  std::shared_ptr<SqliteHandle> AcquireReader();
  // Gives a reader back to the pool when it still fits the connection.
  void ReleaseReader(std::shared_ptr<SqliteHandle> reader, std::uint64_t generation);

  const Instance& instance() const { return *instance_; }

 private:
  std::optional<tsql::BatchVariables> carried_;
  std::filesystem::path root_;
  std::optional<Instance> instance_;
  bool open_ = false;
  // The instance's offline marker is looked for only when the instance
  // folder may have changed.
  platform::FolderWatch instanceFolder_;
  bool markedOffline_ = false;
  std::uint64_t generation_ = 0;
  int timeoutSeconds_ = 60;
  std::shared_ptr<SqliteHandle> main_;
  std::unique_ptr<SchemaCache> schema_;
  std::vector<std::shared_ptr<SqliteHandle>> idleReaders_;
  TranslationCache translations_;
  Checkpointer checkpointer_;
};

}  // namespace pv::db::embedded
