#include "db/odbc/odbc_session.h"

#include <cstdint>

#include "db/error.h"
#include "db/odbc/odbc_diagnostics.h"
#include "db/odbc/utf16.h"
#include "platform/odbc_api.h"

#ifndef _WIN32
#include <langinfo.h>
#include <strings.h>

#include <clocale>
#endif

namespace pv::db::odbc {

namespace {

// unixODBC converts the wide calls made here for drivers that only have
// narrow entry points (the SQLite ODBC driver of Debian, for one) with the
// character set of LC_CTYPE. Under the "C" locale that conversion drops
// every character outside Latin-1, so LC_CTYPE is switched to UTF-8, the
// program's own encoding, unless it already is. Only the character
// classification category changes; number formats stay as they are.
void UseUtf8ForNarrowDrivers() {
#ifndef _WIN32
  static const bool done = [] {
    const char* codeset = nl_langinfo(CODESET);
    if (codeset != nullptr &&
        (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0)) {
      return true;
    }
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "en_US.UTF-8");
    return true;
  }();
  (void)done;
#endif
}

SQLPOINTER IntegerAttribute(std::uintptr_t v) { return reinterpret_cast<SQLPOINTER>(v); }

}  // namespace

std::shared_ptr<OdbcSession> OdbcSession::Connect(const std::string& connectionString,
                                                  int loginTimeoutSeconds) {
  UseUtf8ForNarrowDrivers();
  std::shared_ptr<OdbcSession> s(new OdbcSession());
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &s->env_);
  if (!SQL_SUCCEEDED(rc)) {
    s->env_ = SQL_NULL_HENV;
    throw DbError(kErrOdbcGeneric, "The ODBC driver manager could not be initialised");
  }
  rc = SQLSetEnvAttr(s->env_, SQL_ATTR_ODBC_VERSION, IntegerAttribute(SQL_OV_ODBC3), 0);
  if (!SQL_SUCCEEDED(rc)) s->Fail(SQL_HANDLE_ENV, s->env_, "SQLSetEnvAttr", rc);
  rc = SQLAllocHandle(SQL_HANDLE_DBC, s->env_, &s->dbc_);
  if (!SQL_SUCCEEDED(rc)) {
    s->dbc_ = SQL_NULL_HDBC;
    s->Fail(SQL_HANDLE_ENV, s->env_, "SQLAllocHandle", rc);
  }
  // A driver that has no login timeout simply keeps its own.
  SQLSetConnectAttrW(s->dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                     IntegerAttribute(static_cast<std::uintptr_t>(loginTimeoutSeconds)), 0);
  std::u16string text = Utf8ToUtf16(connectionString);
  rc = SQLDriverConnectW(s->dbc_, nullptr, reinterpret_cast<SQLWCHAR*>(text.data()),
                         static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr,
                         SQL_DRIVER_NOPROMPT);
  // The text holds the password; do not leave it lying in memory.
  for (char16_t& c : text) c = u'\0';
  if (!SQL_SUCCEEDED(rc)) s->Fail(SQL_HANDLE_DBC, s->dbc_, "SQLDriverConnect", rc);
  s->connected_ = true;
  return s;
}

OdbcSession::~OdbcSession() { Disconnect(); }

bool OdbcSession::IsUsable() const {
  if (!connected_ || linkLost_) return false;
  SQLUINTEGER dead = SQL_CD_FALSE;
  const SQLRETURN rc = SQLGetConnectAttrW(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
  // A driver that does not know the attribute tells nothing either way.
  return !(SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE);
}

void OdbcSession::Disconnect() noexcept {
  if (pending_ != nullptr) {
    PendingRows* rows = pending_;
    pending_ = nullptr;
    rows->Abandon();
  }
  if (dbc_ != SQL_NULL_HDBC) {
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
  }
  if (env_ != SQL_NULL_HENV) {
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    env_ = SQL_NULL_HENV;
  }
  connected_ = false;
}

void OdbcSession::Quiesce() {
  if (pending_ == nullptr) return;
  PendingRows* rows = pending_;
  pending_ = nullptr;
  rows->TakeRemainingRows();
}

Statement OdbcSession::NewStatement(int timeoutSeconds) {
  SQLHSTMT h = SQL_NULL_HSTMT;
  const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &h);
  if (!SQL_SUCCEEDED(rc)) Fail(SQL_HANDLE_DBC, dbc_, "SQLAllocHandle", rc);
  Statement st(h);
  // Not every driver enforces a timeout; one that refuses keeps running unbounded.
  SQLSetStmtAttrW(
      h, SQL_ATTR_QUERY_TIMEOUT,
      IntegerAttribute(static_cast<std::uintptr_t>(timeoutSeconds > 0 ? timeoutSeconds : 0)), 0);
  return st;
}

void OdbcSession::Fail(SQLSMALLINT handleType, SQLHANDLE handle, const std::string& what,
                       SQLRETURN rc) {
  const std::vector<DiagRecord> records = ReadDiagnostics(handleType, handle);
  if (IsLinkFailure(records)) linkLost_ = true;
  throw MakeError(records, what, rc);
}

void RequireConnected(const std::shared_ptr<OdbcSession>& session) {
  if (!session || session->dbc() == SQL_NULL_HDBC) {
    throw NotOpenError();
  }
}

}  // namespace pv::db::odbc
