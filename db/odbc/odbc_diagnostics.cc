#include "db/odbc/odbc_diagnostics.h"

#include <algorithm>
#include <cstddef>

#include "db/odbc/utf16.h"
#include "platform/odbc_api.h"

namespace pv::db::odbc {

namespace {

constexpr SQLSMALLINT kMaxRecords = 8;
constexpr SQLSMALLINT kMaxMessageUnits = 8192;

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

long FallbackNumber(const std::string& state) {
  if (StartsWith(state, "08")) return kErrServerUnreachable;
  if (state == "HYT00" || state == "HYT01") return kErrOdbcTimeout;
  return kErrOdbcGeneric;
}

}  // namespace

std::vector<DiagRecord> ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
  std::vector<DiagRecord> out;
  if (handle == SQL_NULL_HANDLE) return out;
  for (SQLSMALLINT i = 1; i <= kMaxRecords; ++i) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::u16string message(512, u'\0');
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(handleType, handle, i, state, &native,
                                  reinterpret_cast<SQLWCHAR*>(message.data()),
                                  static_cast<SQLSMALLINT>(message.size()), &length);
    if (!SQL_SUCCEEDED(rc)) break;
    if (length >= static_cast<SQLSMALLINT>(message.size())) {
      // Cut: ask again with room for the whole text (within reason).
      message.assign(static_cast<std::size_t>(std::min<SQLSMALLINT>(
                         static_cast<SQLSMALLINT>(length + 1), kMaxMessageUnits)),
                     u'\0');
      rc = SQLGetDiagRecW(handleType, handle, i, state, &native,
                          reinterpret_cast<SQLWCHAR*>(message.data()),
                          static_cast<SQLSMALLINT>(message.size()), &length);
      if (!SQL_SUCCEEDED(rc)) break;
    }
    const auto units = std::min<std::size_t>(
        static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), message.size() - 1);
    message.resize(units);
    if (const std::size_t end = message.find(u'\0'); end != std::u16string::npos)
      message.resize(end);
    DiagRecord r;
    std::u16string st;
    for (int k = 0; k < 5 && state[k] != 0; ++k) st.push_back(static_cast<char16_t>(state[k]));
    r.sqlState = Utf16ToUtf8(st);
    r.native = native;
    r.message = Utf16ToUtf8(message);
    out.push_back(std::move(r));
  }
  return out;
}

DbError MakeError(const std::vector<DiagRecord>& records, const std::string& what, SQLRETURN rc) {
  if (records.empty()) {
    return DbError(kErrOdbcGeneric, what + " failed (ODBC return code " + std::to_string(rc) + ")");
  }
  // The number comes from the first error; informational records (class
  // "01": PRINT output, warnings) that precede it carry none worth logging.
  auto first = std::find_if(records.begin(), records.end(),
                            [](const DiagRecord& r) { return !StartsWith(r.sqlState, "01"); });
  if (first == records.end()) first = records.begin();
  const long number = first->native != 0 ? first->native : FallbackNumber(first->sqlState);
  std::string description;
  std::vector<std::string> seen;
  for (const DiagRecord& r : records) {
    std::string part = r.message + " (SQLSTATE " + r.sqlState + ")";
    if (std::find(seen.begin(), seen.end(), part) != seen.end()) continue;
    if (!description.empty()) description += "; ";
    description += part;
    seen.push_back(std::move(part));
  }
  return DbError(number, description);
}

bool IsLinkFailure(const std::vector<DiagRecord>& records) {
  return std::any_of(records.begin(), records.end(), [](const DiagRecord& r) {
    return r.sqlState == "08S01" || r.sqlState == "08S02" || r.sqlState == "08003" ||
           r.sqlState == "08007";
  });
}

}  // namespace pv::db::odbc
