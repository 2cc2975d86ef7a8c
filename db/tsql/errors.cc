// MapError(): SQLite's failures in SQL Server's numbers and words.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/text.h"
#include "db/tsql/duplicates.h"
#include "db/tsql/emitter.h"
#include "db/tsql/lexer.h"
#include "db/tsql/literals.h"
#include "db/tsql/translator.h"

namespace pv::db::tsql {
namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// "main.Names" -> "Names"
std::string StripSchema(std::string_view name) {
  for (std::string_view prefix : {"main.", "temp."}) {
    if (StartsWith(name, prefix)) return std::string(name.substr(prefix.size()));
  }
  return std::string(name);
}

// The text between the first pair of double quotes, or everything after
// `prefix`.
std::string After(std::string_view msg, std::string_view prefix) {
  return std::string(msg.substr(prefix.size()));
}

std::string StatementWord(std::string_view sql) {
  size_t i = 0;
  while (i < sql.size() && common::IsBlank(sql[i])) ++i;
  for (std::string_view w : {"INSERT", "UPDATE", "DELETE", "MERGE"}) {
    if (common::EqualsNoCase(sql.substr(i, w.size()), w)) return std::string(w);
  }
  return "INSERT";
}

// "T.c" of "UNIQUE constraint failed: T.c, T.d" and the like.
void TableColumn(std::string_view what, std::string* table, std::string* column) {
  const size_t comma = what.find(',');
  if (comma != std::string_view::npos) what = what.substr(0, comma);
  const size_t dot = what.find('.');
  if (dot == std::string_view::npos) {
    *table = std::string(what);
    column->clear();
    return;
  }
  *table = std::string(what.substr(0, dot));
  *column = std::string(what.substr(dot + 1));
}

// Splits "pv_kind|table|column|type" into its parts.
std::vector<std::string> Parts(std::string_view name) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t bar = name.find('|', start);
    parts.emplace_back(name.substr(start, bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return parts;
}

// The table an INSERT, UPDATE or DELETE writes to ("Names" of
// `INSERT INTO "Names" (...)`); empty for other statements. Only the head of
// the text is read, up to its first text literal: a failure report must not
// cost a pass over a large value.
std::string TargetTable(std::string_view sql) {
  std::vector<Token> t;
  try {
    t = Tokenize(sql.substr(0, std::min<std::size_t>(256, sql.find('\''))));
  } catch (const DbError&) {
    return {};  // the head cut a name or comment in two
  }
  std::size_t k = 0;
  if (k < t.size() && (IsWord(t[k], "INSERT") || IsWord(t[k], "REPLACE") ||
                       IsWord(t[k], "UPDATE") || IsWord(t[k], "DELETE"))) {
    ++k;
  } else {
    return {};
  }
  if (k + 1 < t.size() && IsWord(t[k], "OR")) k += 2;
  if (k < t.size() && (IsWord(t[k], "INTO") || IsWord(t[k], "FROM"))) ++k;
  if (k >= t.size() || (t[k].kind != TokKind::Word && t[k].kind != TokKind::Quoted)) return {};
  return NameOf(t[k]);
}

// SQL Server's words for a full disk: the object and database when known.
DbError DiskFull(std::string_view sql, std::string_view database) {
  const std::string table = TargetTable(sql);
  std::string where = table.empty() ? "" : "for object 'dbo." + table + "' ";
  if (!database.empty()) where += "in database '" + std::string(database) + "' ";
  return DbError(1105, "Could not allocate space " + where +
                           "because the 'PRIMARY' filegroup is full. Create disk space by "
                           "deleting unneeded files, dropping objects in the filegroup, adding "
                           "additional files to the filegroup, or setting autogrowth on for "
                           "existing files in the filegroup.");
}

// The operating system's code of a write refused for want of space: no
// space left, over a quota or past the file-size limit.
bool NoSpace(int systemError) {
#ifdef _WIN32  // GetLastError() codes: ERROR_HANDLE_DISK_FULL, ERROR_DISK_FULL, ..._QUOTA_EXCEEDED
  return systemError == 39 || systemError == 112 || systemError == 1295;
#else
  return systemError == ENOSPC || systemError == EFBIG || systemError == EDQUOT;
#endif
}

// An operating-system error during a read or write; a write refused for want
// of space is a full disk.
DbError IoError(int code, const std::string& message, std::string_view sql,
                std::string_view database, int systemError) {
  if (code == SQLITE_IOERR_NOMEM) {
    return DbError(701, "There is insufficient system memory to run this query.");
  }
  const bool read = code == SQLITE_IOERR_READ || code == SQLITE_IOERR_SHORT_READ;
  if (!read && NoSpace(systemError)) return DiskFull(sql, database);
  std::string os;
  if (systemError != 0) {
    os = " error " + std::to_string(systemError);
#ifndef _WIN32  // on Windows the code is a GetLastError() value, not errno
    os += "(" + std::string(std::strerror(systemError)) + ")";
#endif
  }
  std::string text = "The operating system returned" + (os.empty() ? " an error" : os) +
                     " to SQL Server during a " + (read ? "read" : "write");
  if (!database.empty()) text += " in database '" + std::string(database) + "'";
  return DbError(823, text + ": " + message + ".");
}

DbError CheckFailed(const std::string& name, std::string_view sql) {
  const std::vector<std::string> p = Parts(name);
  if (p.size() >= 3 && p[0] == "pv_len") {
    return DbError(8152, "String or binary data would be truncated.");
  }
  if (p.size() >= 4 && p[0] == "pv_range") {
    return DbError(8115,
                   "Arithmetic overflow error converting expression to data type " + p[3] + ".");
  }
  if (p.size() >= 4 && p[0] == "pv_type") {
    const TypeClass cls = ClassOf(p[3]);
    if (cls == TypeClass::DateTime) {
      return DbError(241,
                     "Conversion failed when converting date and/or time from character "
                     "string.");
    }
    if (cls == TypeClass::Binary) {
      return DbError(257, "Implicit conversion from data type nvarchar to " + p[3] +
                              " is not allowed. Use the CONVERT function to run this query.");
    }
    return DbError(245, "Conversion failed when converting a value of column '" + p[2] +
                            "' to data type " + p[3] + ".");
  }
  return DbError(547, "The " + StatementWord(sql) +
                          " statement conflicted with the CHECK "
                          "constraint \"" +
                          name + "\".");
}

// What is left of SQLite's refusals, in SQL Server's words: a user never
// sees SQLite's own text. A form SQLite cannot run at all is reported as
// not supported by the embedded engine.
DbError OtherFailure(int code, std::string_view msg) {
  auto has = [&](std::string_view part) { return msg.find(part) != std::string_view::npos; };
  if ((code & 0xFF) == SQLITE_MISMATCH || has("datatype mismatch")) {
    return DbError(245, "Conversion failed when converting a value to data type int.");
  }
  if (StartsWith(msg, "table ") && has(" has no column named ")) {
    const size_t at = msg.find(" has no column named ") + 21;
    return DbError(207, "Invalid column name '" + std::string(msg.substr(at)) + "'.");
  }
  if (StartsWith(msg, "misuse of aggregate")) {
    return DbError(147,
                   "An aggregate may not appear in the WHERE clause unless it is in a subquery "
                   "contained in a HAVING clause or a select list, and the column being "
                   "aggregated is an outer reference.");
  }
  if (StartsWith(msg, "sub-select returns")) {
    return DbError(116,
                   "Only one expression can be specified in the select list when the subquery "
                   "is not introduced with EXISTS.");
  }
  if (has("do not have the same number of result columns")) {
    return DbError(205,
                   "All queries combined using a UNION, INTERSECT or EXCEPT operator must have "
                   "an equal number of expressions in their target lists.");
  }
  if (has("ORDER BY term out of range")) {
    return DbError(108,
                   "The ORDER BY position number is out of range of the number of items in the "
                   "select list.");
  }
  if (has("ORDER BY term does not match any column")) {
    return DbError(104,
                   "ORDER BY items must appear in the select list if the statement contains a "
                   "UNION, INTERSECT or EXCEPT operator.");
  }
  if (msg == "no tables specified") return DbError(263, "Must specify table to select from.");
  if (msg == "integer overflow") {
    return DbError(8115, "Arithmetic overflow error converting expression to data type bigint.");
  }
  if (StartsWith(msg, "no such collation sequence: ")) {
    return DbError(448, "Invalid collation '" + After(msg, "no such collation sequence: ") + "'.");
  }
  if (StartsWith(msg, "unknown database ")) {
    return DbError(208, "Invalid object name '" + After(msg, "unknown database ") + "'.");
  }
  if (has("parser stack overflow") || has("Expression tree is too large") ||
      has("too many terms in compound SELECT")) {
    return DbError(191,
                   "Some part of your SQL statement is nested too deeply. Rewrite the query or "
                   "break it up into smaller queries.");
  }
  if (has("cannot start a transaction within a transaction")) {
    return DbError(kErrUnsupported,
                   "A nested BEGIN TRANSACTION is not supported by the embedded engine.");
  }
  if (has("syntax error") || has("row value misused")) {
    return DbError(102, "Incorrect syntax near the end of the statement.");
  }
  return DbError(kErrUnsupported, "This statement is not supported by the embedded engine.");
}

}  // namespace

DbError MapError(int code, const std::string& message, std::string_view sql,
                 std::string_view database, int systemError, sqlite3* db) {
  const std::string_view msg = message;
  const int primary = code & 0xFF;

  // Failures raised by our own SQL functions carry SQL Server's number.
  if (StartsWith(msg, "[")) {
    const size_t close = msg.find("] ");
    if (close != std::string_view::npos && close > 1) {
      char* end = nullptr;
      const long number = std::strtol(message.c_str() + 1, &end, 10);
      if (end == message.c_str() + close) return DbError(number, message.substr(close + 2));
    }
  }

  switch (primary) {
    case SQLITE_CONSTRAINT: {
      std::string table, column;
      if (StartsWith(msg, "UNIQUE constraint failed: ")) {
        return DuplicateKeyError(db, code, msg, sql);
      }
      if (StartsWith(msg, "NOT NULL constraint failed: ")) {
        TableColumn(msg.substr(28), &table, &column);
        return DbError(515, "Cannot insert the value NULL into column '" + column +
                                "', table 'dbo." + table + "'; column does not allow nulls. " +
                                StatementWord(sql) + " fails.");
      }
      if (StartsWith(msg, "CHECK constraint failed: "))
        return CheckFailed(After(msg, "CHECK constraint failed: "), sql);
      if (StartsWith(msg, "FOREIGN KEY constraint failed")) {
        const std::string word = StatementWord(sql);
        return DbError(547, "The " + word + " statement conflicted with the " +
                                (word == "DELETE" ? "REFERENCE" : "FOREIGN KEY") + " constraint.");
      }
      return DbError(547, message);
    }
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return DbError(1222, "Lock request time out period exceeded.");
    case SQLITE_READONLY:
      return DbError(3906,
                     "Failed to update database " +
                         (database.empty() ? std::string() : "\"" + std::string(database) + "\" ") +
                         "because the database is read-only.");
    case SQLITE_INTERRUPT:
      return DbError(-2147217871, "Query timeout expired");
    case SQLITE_FULL:
      return DiskFull(sql, database);
    case SQLITE_IOERR:
      return IoError(code, message, sql, database, systemError);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return DbError(824, "SQL Server detected a logical consistency-based I/O error: " + message);
    case SQLITE_CANTOPEN:
      return DbError(5120, "Unable to open the physical file: " + message);
    case SQLITE_TOOBIG:
      return DbError(7119, "Attempting to grow LOB beyond maximum allowed size.");
    case SQLITE_NOMEM:
      return DbError(701, "There is insufficient system memory to run this query.");
    default:
      break;
  }

  if (StartsWith(msg, "no such table: ")) {
    return DbError(208, "Invalid object name '" + StripSchema(msg.substr(15)) + "'.");
  }
  if (StartsWith(msg, "no such view: ")) {
    return DbError(3701, "Cannot drop the view '" + StripSchema(msg.substr(14)) +
                             "', because it does not exist or you do not have permission.");
  }
  if (StartsWith(msg, "no such index: ")) {
    return DbError(3701, "Cannot drop the index '" + StripSchema(msg.substr(15)) +
                             "', because it does not exist or you do not have permission.");
  }
  if (StartsWith(msg, "no such column: ")) {
    const std::string name = After(msg, "no such column: ");
    if (name.find('.') != std::string::npos) {
      return DbError(4104, "The multi-part identifier \"" + name + "\" could not be bound.");
    }
    return DbError(207, "Invalid column name '" + name + "'.");
  }
  if (StartsWith(msg, "ambiguous column name: ")) {
    return DbError(209, "Ambiguous column name '" + After(msg, "ambiguous column name: ") + "'.");
  }
  if (StartsWith(msg, "near \"")) {
    const size_t q = msg.find("\": syntax error");
    if (q != std::string_view::npos) {
      return DbError(102, "Incorrect syntax near '" + std::string(msg.substr(6, q - 6)) + "'.");
    }
  }
  if (StartsWith(msg, "unrecognized token: \"")) {
    std::string tok = After(msg, "unrecognized token: \"");
    if (!tok.empty() && tok.back() == '"') tok.pop_back();
    return DbError(102, "Incorrect syntax near '" + tok + "'.");
  }
  if (msg == "incomplete input") {
    return DbError(102, "Incorrect syntax near the end of the statement.");
  }
  if (msg.find(" already exists") != std::string_view::npos) {
    size_t sp = msg.find(' ');
    std::string name(msg.substr(sp + 1, msg.find(" already exists") - sp - 1));
    name = StripSchema(name);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
      name = name.substr(1, name.size() - 2);
    }
    if (StartsWith(msg, "index ")) {
      return DbError(1913, "The operation failed because an index or statistics with name '" +
                               name + "' already exists.");
    }
    return DbError(2714, "There is already an object named '" + name + "' in the database.");
  }
  if (StartsWith(msg, "duplicate column name: ")) {
    return DbError(2705, "Column names in each table must be unique. Column name '" +
                             After(msg, "duplicate column name: ") +
                             "' is specified more than once.");
  }
  if (StartsWith(msg, "no such function: ")) {
    return DbError(195, "'" + After(msg, "no such function: ") +
                            "' is not a recognized built-in function name.");
  }
  if (StartsWith(msg, "wrong number of arguments to function ")) {
    std::string name = After(msg, "wrong number of arguments to function ");
    if (name.size() > 2 && name.substr(name.size() - 2) == "()") name.resize(name.size() - 2);
    return DbError(174, "The " + name + " function requires a different number of arguments.");
  }
  if (msg.find(" values were supplied") != std::string_view::npos) {
    return DbError(213,
                   "Column name or number of supplied values does not match table "
                   "definition.");
  }
  if (msg.find(" values for ") != std::string_view::npos &&
      msg.find(" columns") != std::string_view::npos) {
    const long values = std::atol(message.c_str());
    const long columns = std::atol(message.c_str() + msg.find(" values for ") + 12);
    return DbError(values < columns ? 109 : 110,
                   values < columns
                       ? "There are more columns in the INSERT statement than values specified in "
                         "the VALUES clause."
                       : "There are fewer columns in the INSERT statement than values specified in "
                         "the VALUES clause.");
  }
  if (StartsWith(msg, "cannot commit - no transaction is active")) {
    return DbError(3902, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
  }
  if (StartsWith(msg, "cannot rollback - no transaction is active")) {
    return DbError(3903,
                   "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
  }
  if (StartsWith(msg, "cannot modify ") && msg.find("because it is a view") != std::string::npos) {
    const std::string view(msg.substr(14, msg.find(" because") - 14));
    return DbError(4406, "Update or insert of view or function '" + StripSchema(view) +
                             "' failed because it contains a derived or constant field.");
  }
  if (StartsWith(msg, "Cannot add a NOT NULL column")) {
    // The failing statement is one ALTER TABLE "t" ADD COLUMN "c" ...
    const std::vector<Token> t = Tokenize(sql);
    const std::string table = t.size() > 5 ? NameOf(t[2]) : "";
    const std::string column = t.size() > 5 ? NameOf(t[5]) : "";
    return DbError(4901,
                   "ALTER TABLE only allows columns to be added that can contain nulls, or have a "
                   "DEFAULT definition specified, or the column being added is an identity or "
                   "timestamp column, or alternatively if none of the previous conditions are "
                   "satisfied the table must be empty to allow addition of this column. Column '" +
                       column + "' cannot be added to non-empty table '" + table +
                       "' because it does not satisfy these conditions.");
  }
  return OtherFailure(code, msg);
}

}  // namespace pv::db::tsql
