#include "db/odbc/odbc_connection.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "db/odbc/odbc_connection_string.h"
#include "db/odbc/odbc_diagnostics.h"
#include "db/odbc/odbc_rowset.h"
#include "db/odbc/odbc_session.h"
#include "db/odbc/odbc_values.h"
#include "db/odbc/utf16.h"
#include "platform/odbc_api.h"

namespace pv::db::odbc {

namespace {

constexpr std::size_t kPutChunk = 256 * 1024;

// Runs `sql` on a new statement; returns the statement and the return code
// (SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA or SQL_NEED_DATA).
SQLRETURN ExecDirect(OdbcSession& session, const Statement& stmt, const std::string& sql) {
  std::u16string text = Utf8ToUtf16(sql);
  const SQLRETURN rc = SQLExecDirectW(stmt.get(), reinterpret_cast<SQLWCHAR*>(text.data()),
                                      static_cast<SQLINTEGER>(text.size()));
  if (rc != SQL_NO_DATA && rc != SQL_NEED_DATA && !SQL_SUCCEEDED(rc)) {
    session.Fail(SQL_HANDLE_STMT, stmt.get(), "SQLExecDirect", rc);
  }
  return rc;
}

// Moves to the next result of the statement; false when there is none.
bool MoreResults(OdbcSession& session, const Statement& stmt) {
  const SQLRETURN rc = SQLMoreResults(stmt.get());
  if (rc == SQL_NO_DATA) return false;
  if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, stmt.get(), "SQLMoreResults", rc);
  return true;
}

SQLSMALLINT ResultColumns(OdbcSession& session, const Statement& stmt) {
  SQLSMALLINT n = 0;
  const SQLRETURN rc = SQLNumResultCols(stmt.get(), &n);
  if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, stmt.get(), "SQLNumResultCols", rc);
  return n;
}

[[noreturn]] void ThrowFileError(const std::filesystem::path& file, const std::string& reason) {
  throw DbError(kErrFileOpen, "File could not be opened: " + file.string() + " (" + reason + ")");
}

class OdbcConnection final : public Connection {
 public:
  OdbcConnection(std::string driver, int loginTimeout, int commandTimeout)
      : driver_(std::move(driver)),
        loginTimeout_(std::max(loginTimeout, 0)),
        timeout_(std::max(commandTimeout, 0)) {}
  ~OdbcConnection() override { Close(); }

  void Open(const ConnectionParams& params) override {
    Close();
    session_ = OdbcSession::Connect(OdbcConnectionString(driver_, params), loginTimeout_);
  }

  bool IsOpen() const override { return session_ && session_->IsUsable(); }

  void Close() override {
    if (session_) session_->Disconnect();
    session_.reset();
  }

  void SetCommandTimeout(int seconds) override { timeout_ = std::max(seconds, 0); }

  std::int64_t Execute(const std::string& sql) override {
    OdbcSession& session = Ready();
    Statement stmt = session.NewStatement(timeout_);
    const SQLRETURN rc = ExecDirect(session, stmt, sql);
    std::int64_t affected = -1;
    if (rc == SQL_NO_DATA) {
      // No result at all: a searched UPDATE or DELETE that met no row (count
      // 0), or statements that report no count (-1).
      SQLLEN count = 0;
      if (!SQL_SUCCEEDED(SQLRowCount(stmt.get(), &count))) count = 0;
      return count < 0 ? -1 : count;
    }
    do {
      if (ResultColumns(session, stmt) == 0) {
        SQLLEN count = -1;
        if (SQL_SUCCEEDED(SQLRowCount(stmt.get(), &count)) && count >= 0) affected = count;
      }
      // Rows of a result set are discarded by SQLMoreResults.
    } while (MoreResults(session, stmt));
    return affected;
  }

  std::unique_ptr<Rowset> Query(const std::string& sql, Cursor /*cursor*/) override {
    OdbcSession& session = Ready();
    Statement stmt = session.NewStatement(timeout_);
    if (ExecDirect(session, stmt, sql) == SQL_NO_DATA) return std::make_unique<OdbcRowset>();
    // The first result with columns; counts of statements before it are skipped.
    while (ResultColumns(session, stmt) == 0) {
      if (!MoreResults(session, stmt)) return std::make_unique<OdbcRowset>();
    }
    std::vector<ColumnInfo> columns = DescribeColumns(session, stmt.get());
    return std::make_unique<OdbcRowset>(session_, std::move(stmt), std::move(columns));
  }

  std::string CurrentDatabase() override {
    OdbcSession& session = Connected();
    std::u16string name(256, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
      SQLINTEGER bytes = 0;
      const SQLRETURN rc =
          SQLGetConnectAttrW(session.dbc(), SQL_ATTR_CURRENT_CATALOG, name.data(),
                             static_cast<SQLINTEGER>(name.size() * sizeof(SQLWCHAR)), &bytes);
      if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_DBC, session.dbc(), "SQLGetConnectAttr", rc);
      const std::size_t units =
          static_cast<std::size_t>(std::max<SQLINTEGER>(bytes, 0)) / sizeof(SQLWCHAR);
      if (units < name.size()) {
        name.resize(units);
        // Some drivers give no length; the text then ends at its terminator.
        const std::size_t end = name.find(u'\0');
        if (end != std::u16string::npos) name.resize(end);
        return Utf16ToUtf8(name);
      }
      name.assign(std::min<std::size_t>(units + 1, 32768), u'\0');
    }
    const std::size_t end = name.find(u'\0');
    if (end != std::u16string::npos) name.resize(end);
    return Utf16ToUtf8(name);
  }

  void SetCurrentDatabase(const std::string& name) override {
    OdbcSession& session = Ready();
    std::u16string text = Utf8ToUtf16(name);
    const SQLRETURN rc = SQLSetConnectAttrW(session.dbc(), SQL_ATTR_CURRENT_CATALOG,
                                            reinterpret_cast<SQLPOINTER>(text.data()), SQL_NTS);
    if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_DBC, session.dbc(), "SQLSetConnectAttr", rc);
  }

  bool StoreFileInColumn(const std::string& table, const std::string& column, std::int64_t id,
                         const std::filesystem::path& file) override {
    OdbcSession& session = Ready();
    const std::string where = " Where id = " + std::to_string(id);
    {
      // The row must exist; its present value is not read.
      Statement stmt = session.NewStatement(timeout_);
      if (ExecDirect(session, stmt, "Select id, " + column + " From " + table + where) ==
          SQL_NO_DATA) {
        return false;
      }
      bool found = false;
      // Read to the end (the column is never fetched): a result left pending
      // would make the driver cancel it, a round trip of its own.
      for (;;) {
        const SQLRETURN rc = SQLFetch(stmt.get());
        if (rc == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, stmt.get(), "SQLFetch", rc);
        found = true;
      }
      while (MoreResults(session, stmt)) {
      }
      if (!found) return false;
    }

    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) ThrowFileError(file, ec.message());
    std::ifstream in(file, std::ios::binary);
    if (!in) ThrowFileError(file, "cannot be read");

    Statement stmt = session.NewStatement(timeout_);
    // The bytes go as a data-at-execution parameter, fed from the file in
    // chunks: the file is never held in memory as a whole.
    SQLLEN lengthOrIndicator = SQL_LEN_DATA_AT_EXEC(static_cast<SQLLEN>(size));
    int token = 1;
    SQLRETURN rc = SQLBindParameter(stmt.get(), 1, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_LONGVARBINARY,
                                    std::max<SQLULEN>(size, 1), 0, &token, 0, &lengthOrIndicator);
    if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, stmt.get(), "SQLBindParameter", rc);
    rc = ExecDirect(session, stmt, "Update " + table + " Set " + column + " = ?" + where);
    if (rc == SQL_NEED_DATA) {
      SQLPOINTER which = nullptr;
      rc = SQLParamData(stmt.get(), &which);
      if (rc == SQL_NEED_DATA) {
        std::vector<char> chunk(
            static_cast<std::size_t>(std::clamp<std::uintmax_t>(size, 1, kPutChunk)));
        std::uintmax_t left = size;
        do {
          const auto want =
              static_cast<std::streamsize>(std::min<std::uintmax_t>(left, chunk.size()));
          if (want > 0 && !in.read(chunk.data(), want)) {
            SQLCancel(stmt.get());
            ThrowFileError(file,
                           "it ended before its " + std::to_string(size) + " bytes were read");
          }
          // An empty file still sends one (empty) piece: the value becomes
          // empty, not Null.
          rc = SQLPutData(stmt.get(), chunk.data(), static_cast<SQLLEN>(want));
          if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, stmt.get(), "SQLPutData", rc);
          left -= static_cast<std::uintmax_t>(want);
        } while (left > 0);
        rc = SQLParamData(stmt.get(), &which);
      }
      if (rc == SQL_NEED_DATA) {
        SQLCancel(stmt.get());
        throw DbError(kErrOdbcGeneric, "The driver asked for more data than the file holds");
      }
      if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) {
        session.Fail(SQL_HANDLE_STMT, stmt.get(), "SQLParamData", rc);
      }
    }
    if (rc == SQL_NO_DATA) return false;  // the row went away in between
    SQLLEN count = -1;
    if (SQL_SUCCEEDED(SQLRowCount(stmt.get(), &count)) && count == 0) return false;
    while (MoreResults(session, stmt)) {
    }
    return true;
  }

  bool ReadColumn(const std::string& table, const std::string& column, std::int64_t id,
                  const ColumnSink& sink) override {
    OdbcSession& session = Ready();
    Statement stmt = session.NewStatement(timeout_);
    if (ExecDirect(session, stmt,
                   "Select " + column + " From " + table + " Where id = " + std::to_string(id)) ==
        SQL_NO_DATA) {
      return false;
    }
    while (ResultColumns(session, stmt) == 0) {
      if (!MoreResults(session, stmt)) return false;
    }
    SQLRETURN rc = SQLFetch(stmt.get());
    if (rc == SQL_NO_DATA) return false;
    if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, stmt.get(), "SQLFetch", rc);
    // The value in parts of one buffer: SQLGetData gives the next part at
    // each call, SQL_SUCCESS_WITH_INFO while more is left.
    std::vector<std::uint8_t> buf(kColumnChunk);
    bool found = true;
    for (bool first = true;; first = false) {
      SQLLEN ind = 0;
      rc = SQLGetData(stmt.get(), 1, SQL_C_BINARY, buf.data(), static_cast<SQLLEN>(buf.size()),
                      &ind);
      if (rc == SQL_NO_DATA) {
        if (first) sink(buf.data(), 0);
        break;
      }
      if (!SQL_SUCCEEDED(rc)) session.Fail(SQL_HANDLE_STMT, stmt.get(), "SQLGetData", rc);
      if (ind == SQL_NULL_DATA) {
        found = false;
        break;
      }
      const bool more = rc == SQL_SUCCESS_WITH_INFO &&
                        (ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) > buf.size());
      sink(buf.data(), more ? buf.size() : static_cast<std::size_t>(std::max<SQLLEN>(ind, 0)));
      if (!more) break;
    }
    // Read to the end: a result left pending would make the driver cancel it.
    while (SQL_SUCCEEDED(SQLFetch(stmt.get()))) {
    }
    while (MoreResults(session, stmt)) {
    }
    return found;
  }

 private:
  OdbcSession& Connected() {
    RequireConnected(session_);
    return *session_;
  }

  // Connected and free for a new statement.
  OdbcSession& Ready() {
    OdbcSession& session = Connected();
    session.Quiesce();
    return session;
  }

  std::string driver_;
  std::shared_ptr<OdbcSession> session_;
  int loginTimeout_;
  int timeout_;
};

}  // namespace

}  // namespace pv::db::odbc

namespace pv::db {

std::unique_ptr<Connection> MakeOdbcConnection(const std::string& driver, int loginTimeoutSeconds,
                                               int commandTimeoutSeconds) {
  return std::make_unique<odbc::OdbcConnection>(driver, loginTimeoutSeconds, commandTimeoutSeconds);
}

}  // namespace pv::db
