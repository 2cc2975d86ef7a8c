// Prepared statements kept per SQLite connection, so that a statement shape
// (an INSERT of the full upload, an UPDATE by id) is compiled once, not once
// per row. The T-SQL front writes values as literals; Parameterize takes the
// literals of one translated INSERT, UPDATE or DELETE out of its text and
// gives them back as values to bind, so rows that differ only in their values
// share one text and one prepared statement. SQLite recompiles a prepared
// statement by itself when the schema changes, so the cache needs no
// invalidation of its own.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "db/embedded/statement_ptr.h"

namespace pv::db::embedded {

// One literal taken out of a statement: a whole number, a real number, text
// or a blob (held as its bytes).
struct Literal {
  enum class Kind { Integer, Real, Text, Blob };
  Kind kind = Kind::Integer;
  std::int64_t integer = 0;
  double real = 0;
  std::string bytes;  // text (UTF-8) or blob
};

struct Parameterized {
  std::string text;  // the statement with '?' where its literals were
  std::vector<Literal> values;
};

// The literals of `sql` as parameters, when `sql` is one INSERT, UPDATE or
// DELETE statement (with `query`, one SELECT) that holds any, a trailing ';'
// allowed; nothing for other statements, several statements, or text it does
// not read with certainty. Numbers that name a column position (ORDER BY 1,
// GROUP BY 2) stay in the text. A SELECT's items carry their names (the
// T-SQL front names every expression), so a literal taken out of one does not
// rename its column.
std::optional<Parameterized> Parameterize(std::string_view sql, bool query = false);

// Binds `values` to the parameters of `st` in order; SQLite's code. With
// `copy` SQLite keeps its own copies, for a statement that outlives them.
int BindAll(sqlite3_stmt* st, const std::vector<Literal>& values, bool copy = false);

// Prepared statements of one connection, by text. At most kCapacity are
// kept; the cache is emptied when full (a connection runs few shapes).
class StatementCache {
 public:
  static constexpr std::size_t kCapacity = 128;

  // The statement for `text`, reset with its bindings cleared, or nullptr
  // when it is not cached.
  sqlite3_stmt* Find(const std::string& text);
  // Keeps `st` for `text`; returns it.
  sqlite3_stmt* Keep(const std::string& text, StatementPtr st);
  // Hands the statement for `text` over (it leaves the cache until kept
  // again); empty when none is cached.
  StatementPtr Take(const std::string& text);
  // Drops the statement for `text` (after a failure that may have left it in
  // a state not worth keeping).
  void Forget(const std::string& text) { statements_.erase(text); }
  void Clear() { statements_.clear(); }

 private:
  std::unordered_map<std::string, StatementPtr> statements_;
};

}  // namespace pv::db::embedded
