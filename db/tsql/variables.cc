#include "db/tsql/variables.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "common/text.h"
#include "db/error.h"
#include "db/tsql/emitter.h"
#include "db/tsql/sql_functions.h"

namespace pv::db::tsql {
namespace {

constexpr std::size_t kKeptBatches = 1024;

struct Stored {
  int type = SQLITE_NULL;
  std::int64_t integer = 0;
  double real = 0;
  std::string bytes;
};

struct Store {
  std::mutex mutex;
  std::map<std::uint64_t, std::map<std::string, Stored>> batches;
};

Store& TheStore() {
  static Store store;
  return store;
}

std::atomic<std::uint64_t> nextBatch{1};

void SetFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto batch = static_cast<std::uint64_t>(sqlite3_value_int64(argv[0]));
  sqlite3_value* v = argv[2];
  Stored s;
  s.type = sqlite3_value_type(v);
  if (s.type == SQLITE_INTEGER) s.integer = sqlite3_value_int64(v);
  if (s.type == SQLITE_FLOAT) s.real = sqlite3_value_double(v);
  if (s.type == SQLITE_TEXT) s.bytes = TextOf(v);
  if (s.type == SQLITE_BLOB && sqlite3_value_bytes(v) > 0) {
    s.bytes.assign(static_cast<const char*>(sqlite3_value_blob(v)),
                   static_cast<size_t>(sqlite3_value_bytes(v)));
  }
  Store& store = TheStore();
  {
    std::lock_guard lock(store.mutex);
    store.batches[batch][TextOf(argv[1])] = std::move(s);
    while (store.batches.size() > kKeptBatches) store.batches.erase(store.batches.begin());
  }
  sqlite3_result_int(ctx, 0);
}

void VarFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const auto batch = static_cast<std::uint64_t>(sqlite3_value_int64(argv[0]));
  Store& store = TheStore();
  std::lock_guard lock(store.mutex);
  auto b = store.batches.find(batch);
  if (b == store.batches.end()) return sqlite3_result_null(ctx);
  auto v = b->second.find(TextOf(argv[1]));
  if (v == b->second.end()) return sqlite3_result_null(ctx);
  const Stored& s = v->second;
  switch (s.type) {
    case SQLITE_INTEGER:
      return sqlite3_result_int64(ctx, s.integer);
    case SQLITE_FLOAT:
      return sqlite3_result_double(ctx, s.real);
    case SQLITE_TEXT:
      return sqlite3_result_text(ctx, s.bytes.data(), static_cast<int>(s.bytes.size()),
                                 SQLITE_TRANSIENT);
    case SQLITE_BLOB:
      return sqlite3_result_blob(ctx, s.bytes.data(), static_cast<int>(s.bytes.size()),
                                 SQLITE_TRANSIENT);
    default:
      return sqlite3_result_null(ctx);
  }
}

// `value` (SQLite text) converted to the declared type as an assignment
// converts it in SQL Server.
std::string Converted(const std::string& type, const std::string& value) {
  const size_t paren = type.find('(');
  const std::string base = type.substr(0, paren);
  long length = -2;
  if (paren != std::string::npos) {
    length = common::EqualsNoCase(type.substr(paren + 1, 3), "max")
                 ? -1
                 : std::atol(type.c_str() + paren + 1);
  }
  switch (ClassOf(base)) {
    case TypeClass::Integer:
      return "pv_convert(" + value + ", '" + base + "', 0)";
    case TypeClass::Decimal:
      return "pv_convert(" + value + ", 'decimal', 0)";
    case TypeClass::Float:
      return "pv_convert(" + value + ", 'float', 0)";
    case TypeClass::Bit:
      return "pv_bit(" + value + ")";
    case TypeClass::DateTime:
      return "pv_datetime(" + value + ")";
    case TypeClass::Text: {
      std::string s = "CAST((" + value + ") AS TEXT)";
      if (length == -2) length = 1;  // SQL Server: char / nvarchar without a length hold one
      if (length >= 0) s = "substr(" + s + ", 1, " + std::to_string(length) + ")";
      return s;
    }
    default:
      return value;
  }
}

// A statement that evaluates `condition` once and yields no rows or count:
// temp.pv_one holds one row (see Prepare).
std::string Once(const std::string& condition) {
  return "WITH pv_assign(x) AS (SELECT 1) DELETE FROM temp.pv_one WHERE (" + condition + ") <> 0";
}

std::string Assign(const BatchVariables& vars, const std::string& name, const std::string& value) {
  return "pv_set(" + std::to_string(vars.batch) + ", " + QuoteText(name) + ", " +
         Converted(vars.declared.at(name), value) + ")";
}

bool IsVariable(const Token& k) {
  return k.kind == TokKind::Word && k.text.size() > 1 && k.text[0] == '@' && k.text[1] != '@';
}

// The declared variable named by token k (lower-case); 137 when undeclared.
std::string Declared(const BatchVariables& vars, const Token& k) {
  std::string name = common::AsciiLower(k.text);
  if (!vars.declared.count(name)) {
    throw DbError(137, "Must declare the scalar variable \"" + std::string(k.text) + "\".");
  }
  return name;
}

}  // namespace

std::string BatchVariables::Read(std::string_view name) const {
  const std::string lower = common::AsciiLower(name);
  if (!declared.count(lower)) {
    throw DbError(137, "Must declare the scalar variable \"" + std::string(name) + "\".");
  }
  return "pv_var(" + std::to_string(batch) + ", " + QuoteText(lower) + ")";
}

void TranslateDeclare(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  if (b + 1 >= e) SyntaxError(t[b]);
  BatchVariables& vars = em.variables();
  if (vars.batch == 0) vars.batch = nextBatch.fetch_add(1);
  for (const Range& r : em.SplitCommas(b + 1, e)) {
    size_t k = r.first;
    if (k >= r.second || !IsVariable(t[k])) SyntaxError(t[k < r.second ? k : e - 1]);
    const std::string name = common::AsciiLower(t[k].text);
    ++k;
    if (k < r.second && IsWord(t[k], "AS")) ++k;
    if (k >= r.second) SyntaxError(t[r.second - 1]);
    if (IsWord(t[k], "TABLE")) Unsupported("DECLARE of a table variable");
    if (IsWord(t[k], "CURSOR")) Unsupported("DECLARE ... CURSOR");
    std::string type = common::AsciiLower(NameOf(t[k]));
    ++k;
    if (k < r.second && IsOp(t[k], "(")) {
      const size_t close = em.Match(k);
      type += "(";
      for (size_t i = k + 1; i < close; ++i) type += std::string(t[i].text);
      type += ")";
      k = close + 1;
    }
    if (vars.declared.count(name)) {
      throw DbError(134, "The variable name '" + std::string(t[r.first].text) +
                             "' has already been declared. Variable names must be unique within "
                             "a query batch or stored procedure.");
    }
    std::string value = "NULL";
    if (k < r.second) {
      if (!IsOp(t[k], "=") || k + 1 >= r.second) SyntaxError(t[k]);
      value.clear();
      em.ScanTables(k + 1, r.second);
      em.Emit(k + 1, r.second, value);
    }
    // Declared after its value is read: DECLARE @a int = @a fails as in SQL Server.
    vars.declared[name] = type;
    out.push_back({Statement::Kind::Sql, Once(Assign(vars, name, value)), {}});
  }
}

void TranslateSetVariable(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  BatchVariables& vars = em.variables();
  const std::string name = Declared(vars, t[b + 1]);
  // SET @v = x, or a compound assignment SET @v += x (-=, *=, /=, %=).
  size_t k = b + 2;
  std::string op;
  if (k + 1 < e && t[k].kind == TokKind::Op && t[k].text.size() == 1 &&
      std::string_view("+-*/%").find(t[k].text[0]) != std::string_view::npos &&
      IsOp(t[k + 1], "=")) {
    op = std::string(t[k++].text);
  }
  if (k >= e || !IsOp(t[k], "=")) SyntaxError(t[std::min(k, e - 1)]);
  if (k + 1 >= e) SyntaxError(t[e - 1]);
  std::string value;
  em.ScanTables(k + 1, e);
  em.Emit(k + 1, e, value);
  if (!op.empty()) {
    const std::string current = vars.Read(name);
    if (op == "+") {
      value = "pv_add(" + current + ", " + value + ")";
    } else if (op == "/" || op == "%") {
      value = std::string(op == "/" ? "pv_div(" : "pv_mod(") + current + ", " + value + ")";
    } else {
      value = "(" + current + ") " + op + " (" + value + ")";
    }
  }
  out.push_back({Statement::Kind::Sql, Once(Assign(vars, name, value)), {}});
}

bool TranslateSelectAssign(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  size_t k = b + 1;
  std::string limit;
  if (k < e && IsWord(t[k], "TOP")) k = em.ParseTop(k, e, &limit);
  if (!(k + 1 < e && IsVariable(t[k]) && IsOp(t[k + 1], "="))) return false;
  const size_t from = em.FindWord(k, e, "FROM");
  size_t listEnd = from;
  for (const char* word : {"WHERE", "GROUP", "ORDER", "HAVING", "UNION", "OPTION"}) {
    listEnd = std::min(listEnd, em.FindWord(k, e, word));
  }
  em.ScanTables(b, e);
  std::string inner = "SELECT";
  std::string count;
  int n = 0;
  for (const Range& r : em.SplitCommas(k, listEnd)) {
    if (!(r.second > r.first + 2 && IsVariable(t[r.first]) && IsOp(t[r.first + 1], "="))) {
      throw DbError(141,
                    "A SELECT statement that assigns a value to a variable must not be combined "
                    "with data-retrieval operations.");
    }
    const std::string name = Declared(em.variables(), t[r.first]);
    const std::string column = "pv_a" + std::to_string(n++);
    if (n > 1) inner += ",";
    em.Emit(r.first + 2, r.second, inner);
    inner += " AS " + column;
    if (!count.empty()) count += " + ";
    count += "count(" + Assign(em.variables(), name, column) + ")";
  }
  em.Emit(listEnd, e, inner);
  // A LIMIT keeps SQLite from dropping an ORDER BY of the rows.
  inner += " LIMIT " + (limit.empty() ? std::string("-1") : limit);
  // Every row assigns in turn, so the last row's values remain, as in SQL
  // Server; no row leaves the variables as they were.
  out.push_back(
      {Statement::Kind::Sql, Once("(SELECT " + count + " FROM (" + inner + ")) < 0"), {}});
  return true;
}

int RegisterVariableFunctions(sqlite3* db) {
  int rc =
      sqlite3_create_function(db, "pv_set", 3, SQLITE_UTF8, nullptr, SetFunction, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "pv_var", 2, SQLITE_UTF8, nullptr, VarFunction, nullptr,
                                 nullptr);
  }
  return rc;
}

}  // namespace pv::db::tsql
