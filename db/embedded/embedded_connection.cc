#include "db/embedded/embedded_connection.h"

#include "common/text.h"
#include "db/embedded/blob_store.h"
#include "db/embedded/embedded_rowset.h"
#include "db/embedded/session.h"

namespace pv::db::embedded {

namespace {

// Nothing but blanks and semicolons: no statement left to run.
bool NothingLeft(const char* p, const char* end) {
  for (; p < end; ++p) {
    if (!common::IsBlank(*p) && *p != ';') return false;
  }
  return true;
}

}  // namespace

EmbeddedConnection::EmbeddedConnection(std::filesystem::path root)
    : session_(std::make_shared<Session>(std::move(root))) {}

EmbeddedConnection::~EmbeddedConnection() { session_->Close(); }

void EmbeddedConnection::Open(const ConnectionParams& params) { session_->Open(params); }

bool EmbeddedConnection::IsOpen() const { return session_->IsOpen(); }

void EmbeddedConnection::Close() { session_->Close(); }

void EmbeddedConnection::SetCommandTimeout(int seconds) { session_->SetTimeout(seconds); }

std::int64_t EmbeddedConnection::Execute(const std::string& sql) {
  session_->RequireUsable();
  return session_->RunBatch(session_->Translate(sql));
}

std::unique_ptr<Rowset> EmbeddedConnection::CachedQuery(
    const std::vector<tsql::Statement>& statements, std::size_t i) {
  auto p = Parameterize(statements[i].sql, true);
  if (!p) return nullptr;
  std::shared_ptr<SqliteHandle> reader = session_->AcquireReader();
  reader->StartStatement();
  StatementPtr st = reader->cache().Take(p->text);
  if (!st && (PrepareStatement(reader->get(), p->text.c_str(), static_cast<int>(p->text.size()),
                               st) != SQLITE_OK ||
              !st)) {
    st.reset();
  }
  // A text SQLite does not take with parameters runs as it was written.
  if (!st || sqlite3_column_count(st.get()) == 0 ||
      sqlite3_bind_parameter_count(st.get()) != static_cast<int>(p->values.size()) ||
      BindAll(st.get(), p->values, true) != SQLITE_OK) {
    st.reset();
    session_->ReleaseReader(std::move(reader), session_->generation());
    return nullptr;
  }
  std::vector<tsql::Statement> trailing(statements.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                        statements.end());
  return std::make_unique<EmbeddedRowset>(session_, std::move(reader), std::move(st),
                                          std::move(trailing), std::move(p->text));
}

std::unique_ptr<Rowset> EmbeddedConnection::Query(const std::string& sql, Cursor /*cursor*/) {
  // Both cursor kinds stream from a reader handle: its snapshot fixes the
  // membership of the rows as a keyset cursor does.
  session_->RequireUsable();
  std::vector<tsql::Statement> statements = session_->Translate(sql);
  for (std::size_t i = 0; i < statements.size(); ++i) {
    if (statements[i].kind == tsql::Statement::Kind::Condition) {
      if (!session_->Holds(statements[i])) i += statements[i].skip;
      continue;
    }
    if (statements[i].kind != tsql::Statement::Kind::Sql) {
      session_->RunBatch({statements[i]});  // a database created or switched to
      continue;
    }
    const std::string& text = statements[i].sql;
    if (auto rows = CachedQuery(statements, i)) return rows;
    const char* tail = text.c_str();
    const char* end = tail + text.size();
    while (tail < end) {
      std::shared_ptr<SqliteHandle> reader = session_->AcquireReader();
      StatementPtr st;
      const char* next = nullptr;
      reader->StartStatement();
      int rc = PrepareStatement(reader->get(), tail, static_cast<int>(end - tail), st, &next);
      if (rc != SQLITE_OK) {
        std::string msg = sqlite3_errmsg(reader->get());
        session_->ReleaseReader(reader, session_->generation());
        reader->ThrowError(rc, std::move(msg),
                           std::string_view(tail, static_cast<std::size_t>(end - tail)));
      }
      // A result set is a statement with columns that writes nothing: an
      // ALTER TABLE ... ADD COLUMN has columns too (SQLite's check of the
      // rows already there), and runs as a statement.
      if (st && sqlite3_column_count(st.get()) > 0 && sqlite3_stmt_readonly(st.get())) {
        // The result set: what follows it in the batch runs once its rows are done.
        std::vector<tsql::Statement> trailing;
        if (!NothingLeft(next, end)) {
          tsql::Statement rest;
          rest.sql.assign(next, end);
          trailing.push_back(std::move(rest));
        }
        trailing.insert(trailing.end(), statements.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                        statements.end());
        return std::make_unique<EmbeddedRowset>(session_, std::move(reader), std::move(st),
                                                std::move(trailing));
      }
      // Not a result set: it runs on the connection's own handle, so its
      // changes and identity are the connection's.
      const bool isStatement = st != nullptr;
      st.reset();
      session_->ReleaseReader(std::move(reader), session_->generation());
      if (isStatement) session_->main().Run(std::string(tail, next));
      tail = next;
    }
  }
  return std::make_unique<EmbeddedRowset>();
}

void EmbeddedConnection::KeepBatchVariables(bool on) { session_->KeepBatchVariables(on); }

std::string EmbeddedConnection::CurrentDatabase() { return session_->CurrentDatabase(); }

void EmbeddedConnection::SetCurrentDatabase(const std::string& name) {
  session_->RequireUsable();
  session_->SwitchDatabase(name);
}

bool EmbeddedConnection::StoreFileInColumn(const std::string& table, const std::string& column,
                                           std::int64_t id, const std::filesystem::path& file) {
  session_->RequireUsable();
  return StoreFile(*session_, table, column, id, file);
}

bool EmbeddedConnection::ReadColumn(const std::string& table, const std::string& column,
                                    std::int64_t id, const ColumnSink& sink) {
  session_->RequireUsable();
  return embedded::ReadColumn(*session_, table, column, id, sink);
}

}  // namespace pv::db::embedded
