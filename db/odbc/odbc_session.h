// One open ODBC connection (environment + connection handle) shared by the
// connection object and the rowsets it hands out, so that a rowset may
// outlive a Close() without touching freed handles.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/odbc_api.h"

namespace pv::db::odbc {

// Text crosses the driver manager through the wide (...W) calls as UTF-16
// held in std::u16string. SQLWCHAR is unsigned short with unixODBC and
// wchar_t on Windows: 16 bits in both, so the buffers are passed as they are.
// (Wine's odbc32 has only the wide and the unsuffixed entry points.)
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "SQLWCHAR must be a UTF-16 code unit");

// A statement handle, freed when the object goes.
class Statement {
 public:
  Statement() = default;
  explicit Statement(SQLHSTMT h) : h_(h) {}
  Statement(Statement&& o) noexcept : h_(std::exchange(o.h_, SQLHSTMT{})) {}
  Statement& operator=(Statement&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = std::exchange(o.h_, SQLHSTMT{});
    }
    return *this;
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { Reset(); }

  SQLHSTMT get() const { return h_; }
  explicit operator bool() const { return h_ != SQL_NULL_HSTMT; }
  void Reset() noexcept {
    if (h_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h_);
    h_ = SQL_NULL_HSTMT;
  }

 private:
  SQLHSTMT h_ = SQL_NULL_HSTMT;
};

// A rowset that still reads its rows from the server. Most SQL Server drivers
// allow one active result per connection, so before the next statement the
// rowset takes its remaining rows into memory and frees its statement.
class PendingRows {
 public:
  virtual void TakeRemainingRows() = 0;
  // The connection is closing: free the statement; the rowset is closed.
  virtual void Abandon() noexcept = 0;

 protected:
  ~PendingRows() = default;
};

class OdbcSession {
 public:
  // Connects with SQLDriverConnect (no prompt); throws DbError on failure.
  static std::shared_ptr<OdbcSession> Connect(const std::string& connectionString,
                                              int loginTimeoutSeconds);
  ~OdbcSession();
  OdbcSession(const OdbcSession&) = delete;
  OdbcSession& operator=(const OdbcSession&) = delete;

  SQLHDBC dbc() const { return dbc_; }

  // Connected, and neither an earlier failure nor the driver says the link
  // to the server is gone.
  bool IsUsable() const;
  void Disconnect() noexcept;

  // Frees the connection for a new statement (see PendingRows).
  void Quiesce();
  void SetPending(PendingRows* rows) { pending_ = rows; }
  void ClearPending(const PendingRows* rows) {
    if (pending_ == rows) pending_ = nullptr;
  }

  // A new statement with the query timeout set (0 = none); throws DbError.
  Statement NewStatement(int timeoutSeconds);

  // Throws the failure of the ODBC call `what` on the handle as DbError;
  // remembers a lost link.
  [[noreturn]] void Fail(SQLSMALLINT handleType, SQLHANDLE handle, const std::string& what,
                         SQLRETURN rc);

 private:
  OdbcSession() = default;

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  bool linkLost_ = false;
  PendingRows* pending_ = nullptr;
};

// Throws DbError 3704 when the session is absent or no longer connected.
void RequireConnected(const std::shared_ptr<OdbcSession>& session);

}  // namespace pv::db::odbc
