#include "db/embedded/session.h"

#include <sqlite3.h>

#include "common/text.h"
#include "db/embedded/statement_ptr.h"
#include "db/error.h"

namespace pv::db::embedded {

namespace {

// Readers kept open for later queries of the same connection.
constexpr std::size_t kMaxIdleReaders = 4;

}  // namespace

Session::~Session() { Close(); }

void Session::Open(const ConnectionParams& params) {
  Close();
  Instance instance(root_, params.server, params.port);
  instance.RequireReachable();
  if (!instance.CheckLogin(params.user, params.password)) {
    throw DbError(kErrLoginFailed, "Login failed for user '" + params.user + "'.");
  }
  const std::string database = params.database.empty() ? "master" : params.database;
  auto file = instance.FindDatabase(database);
  if (!file) {
    throw DbError(kErrCannotOpenDatabase, "Cannot open database \"" + database +
                                              "\" requested by the login. The login failed.");
  }
  main_ = SqliteHandle::Open(*file, timeoutSeconds_);
  main_->SetCommitHook(checkpointer_.CommitHook(*file));
  schema_ = std::make_unique<SchemaCache>(main_->get());
  instanceFolder_ = platform::FolderWatch(instance.folder());
  markedOffline_ = false;
  instance_.emplace(std::move(instance));
  open_ = true;
}

void Session::Close() {
  ++generation_;
  open_ = false;
  idleReaders_.clear();
  schema_.reset();
  // Wait for a copy of the log the worker was asked for, then copy what is
  // left from this connection itself, so a large store made through it is in
  // the database file once Close returns even when other programs keep the
  // file open (and the log would otherwise be copied only at their close).
  // A copy that fails (a full disk) loses nothing: every commit stays in the
  // log, which SQLite empties only after a copy of all of it succeeded.
  checkpointer_.Stop();
  if (main_) {
    sqlite3_wal_checkpoint_v2(main_->get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  }
  main_.reset();
}

void Session::SetTimeout(int seconds) {
  timeoutSeconds_ = seconds < 0 ? 0 : seconds;
  if (main_) main_->SetTimeout(timeoutSeconds_);
  for (auto& r : idleReaders_) r->SetTimeout(timeoutSeconds_);
}

void Session::RequireUsable() {
  if (!open_) {
    throw NotOpenError();
  }
  if (instanceFolder_.Changed()) markedOffline_ = instance_->MarkedOffline();
  if (markedOffline_) {
    const std::string where = instance_->server() + "," + instance_->port();
    Close();
    throw DbError(kErrLinkFailure,
                  "Communication link failure: the server " + where + " is no longer available.");
  }
  // Its database dropped by another connection: the connection is ended,
  // as SQL Server ends the sessions of a database it drops.
  if (main_->FileGone()) {
    const std::string name = Instance::DatabaseName(main_->file());
    Close();
    throw DbError(kErrLinkFailure, "Communication link failure: the database '" + name +
                                       "' was dropped while the connection used it.");
  }
}

std::vector<tsql::Statement> Session::Translate(const std::string& batch) {
  if (main_->TakeSchemaChanged()) schema_->Invalidate();
  // One carrying variables from the batch before depends on more than its
  // text.
  if (carried_) return tsql::Translate(batch, *schema_, &*carried_);
  // A translation kept holds while the schema known for it has not changed
  // (the look at the schema version included).
  schema_->BeginTranslate();
  const TranslationCache::Schema schema{
      [this](const std::string& text) { return tsql::Translate(text, *schema_); },
      [this] { return schema_->generation(); }, [this] { return schema_->missed(); }};
  return translations_.Get(batch, schema);
}

std::int64_t Session::RunBatch(const std::vector<tsql::Statement>& statements, std::size_t from,
                               std::int64_t affected) {
  for (std::size_t i = from; i < statements.size(); ++i) {
    const tsql::Statement& st = statements[i];
    switch (st.kind) {
      case tsql::Statement::Kind::CreateDatabase:
        CreateDatabase(st.name);
        break;
      case tsql::Statement::Kind::UseDatabase:
        SwitchDatabase(st.name);
        break;
      case tsql::Statement::Kind::DropDatabase:
        DropDatabase(st.name);
        break;
      case tsql::Statement::Kind::Sql:
        affected = main_->Run(st.sql, affected);
        break;
      case tsql::Statement::Kind::Condition:
        if (!Holds(st)) i += st.skip;
        break;
    }
  }
  return affected;
}

bool Session::Holds(const tsql::Statement& condition) {
  if (condition.sql.empty()) return false;
  StatementPtr st;
  main_->StartStatement();
  int rc = PrepareStatement(main_->get(), condition.sql.c_str(),
                            static_cast<int>(condition.sql.size()), st);
  if (rc == SQLITE_OK) rc = sqlite3_step(st.get());
  if (rc != SQLITE_ROW) {
    std::string msg = sqlite3_errmsg(main_->get());
    st.reset();
    main_->ThrowError(rc, std::move(msg), condition.sql);
  }
  return sqlite3_column_int(st.get(), 0) != 0;
}

void Session::CreateDatabase(const std::string& name) { instance_->CreateDatabase(name); }

void Session::DropDatabase(const std::string& name) {
  auto file = instance_->FindDatabase(name);
  if (file && *file == main_->file()) {
    throw DbError(kErrDatabaseInUse,
                  "Cannot drop database \"" + name + "\" because it is currently in use.");
  }
  instance_->DropDatabase(name);
}

void Session::SwitchDatabase(const std::string& name) {
  // A switch to the current database (every job makes one) lists no folder.
  if (main_ && common::EqualsNoCase(Instance::DatabaseName(main_->file()), name) &&
      !main_->FileGone()) {
    return;
  }
  auto file = instance_->FindDatabase(name);
  if (!file) {
    throw DbError(kErrNoSuchDatabase, "Database '" + name +
                                          "' does not exist. Make sure that the name is entered "
                                          "correctly.");
  }
  if (*file == main_->file()) return;
  std::shared_ptr<SqliteHandle> next = SqliteHandle::Open(*file, timeoutSeconds_);
  next->SetCommitHook(checkpointer_.CommitHook(*file));
  // The last identity stays with the connection, as SQL Server keeps it
  // across a change of database.
  sqlite3_set_last_insert_rowid(next->get(), sqlite3_last_insert_rowid(main_->get()));
  tsql::SetRowCount(next->get(), tsql::RowCount(main_->get()));
  idleReaders_.clear();
  schema_ = std::make_unique<SchemaCache>(next->get());
  main_ = std::move(next);
}

std::string Session::CurrentDatabase() const {
  if (!open_) {
    throw NotOpenError();
  }
  return Instance::DatabaseName(main_->file());
}

std::shared_ptr<SqliteHandle> Session::AcquireReader() {
  if (!sqlite3_get_autocommit(main_->get())) return main_;
  std::shared_ptr<SqliteHandle> reader;
  if (!idleReaders_.empty()) {
    reader = std::move(idleReaders_.back());
    idleReaders_.pop_back();
  } else {
    // Readers read without a memory map: SQLite drops a handle's map at the
    // start of every read after another handle wrote, and the connection's
    // own writes come between most of its queries. Photos stream through
    // the connection's own (mapped) handle.
    reader = SqliteHandle::Open(main_->file(), timeoutSeconds_, false);
  }
  // SCOPE_IDENTITY() in the query sees the connection's last insert.
  sqlite3_set_last_insert_rowid(reader->get(), sqlite3_last_insert_rowid(main_->get()));
  tsql::SetRowCount(reader->get(), tsql::RowCount(main_->get()));
  return reader;
}

void Session::ReleaseReader(std::shared_ptr<SqliteHandle> reader, std::uint64_t generation) {
  if (!reader || reader == main_ || !open_ || generation != generation_) return;
  if (reader->file() != main_->file() || idleReaders_.size() >= kMaxIdleReaders) return;
  if (!sqlite3_get_autocommit(reader->get())) return;  // left inside a transaction: drop it
  idleReaders_.push_back(std::move(reader));
}

}  // namespace pv::db::embedded
