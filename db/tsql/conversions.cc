#include "db/tsql/conversions.h"

#include <cmath>
#include <string>

#include "common/text.h"
#include "db/tsql/emitter.h"
#include "db/tsql/literals.h"
#include "db/tsql/sql_functions.h"

namespace pv::db::tsql {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether `date` has one of the shapes of a date SQL Server reads (yyyymmdd,
// yyyy-mm-dd, m/d/yyyy with '-', '/' or '.'), whatever its numbers.
bool HasDateShape(std::string_view date) {
  if (date.size() == 8 && date.find_first_not_of("0123456789") == std::string_view::npos) {
    return true;
  }
  int groups = 0;
  char sep = 0;
  size_t i = 0;
  while (i < date.size()) {
    const size_t start = i;
    while (i < date.size() && IsDigit(date[i])) ++i;
    if (i == start || i - start > 4) return false;
    ++groups;
    if (i == date.size()) break;
    if (sep == 0) sep = date[i];
    if (date[i] != sep || (sep != '-' && sep != '/' && sep != '.')) return false;
    ++i;
  }
  return groups == 3;
}

bool IsIntegerType(std::string_view type) {
  std::int64_t low = 0, high = 0;
  return IntegerRange(type, &low, &high);
}

// SQL Server's words for the column kind an integer text overflowed.
std::string OverflowedColumn(std::string_view type) {
  if (type == "tinyint") return "an INT1 column. Use a larger integer column.";
  if (type == "smallint") return "an INT2 column. Use a larger integer column.";
  return "an " + std::string(type == "bigint" ? "bigint" : "int") + " column.";
}

// pv_convert(value, type, try): `value` as the numeric type `type` ("int",
// "bigint", "smallint", "tinyint", "decimal", "float"), failing as SQL
// Server fails (or giving Null when `try` is 1, as TRY_CONVERT does).
void ConvertFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_value* v = argv[0];
  const std::string type = TextOf(argv[1]);
  const bool tryOnly = sqlite3_value_int(argv[2]) != 0;
  auto fail = [&](long number, const std::string& text) {
    if (tryOnly) {
      sqlite3_result_null(ctx);
    } else {
      Fail(ctx, number, text);
    }
  };
  std::int64_t low = 0, high = 0;
  const bool integer = IntegerRange(type, &low, &high);
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
      sqlite3_result_null(ctx);
      return;
    case SQLITE_INTEGER: {
      const std::int64_t i = sqlite3_value_int64(v);
      if (integer && (i < low || i > high)) {
        if (type == "tinyint" || type == "smallint") {
          return fail(220, "Arithmetic overflow error for data type " + type +
                               ", value = " + std::to_string(i) + ".");
        }
        return fail(8115,
                    "Arithmetic overflow error converting expression to data type " + type + ".");
      }
      sqlite3_result_int64(ctx, i);
      return;
    }
    case SQLITE_FLOAT: {
      const double d = sqlite3_value_double(v);
      if (!integer) {
        sqlite3_result_double(ctx, d);
        return;
      }
      const double t = std::trunc(d);
      if (!(t >= static_cast<double>(low) && t <= static_cast<double>(high))) {
        return fail(8115,
                    "Arithmetic overflow error converting expression to data type " + type + ".");
      }
      sqlite3_result_int64(ctx, static_cast<std::int64_t>(t));
      return;
    }
    case SQLITE_TEXT: {
      const std::string s = TextOf(v);
      try {
        CheckNumberText(s, true, type);
      } catch (const DbError& e) {
        return fail(e.number(), e.what());
      }
      double d = 0;
      std::int64_t i = 0;
      bool isInt = false;
      if (!ParseNumber(s, &d, &i, &isInt)) {
        sqlite3_result_int(ctx, 0);  // blanks: SQL Server reads '' as 0
      } else if (isInt) {
        sqlite3_result_int64(ctx, i);
      } else {
        sqlite3_result_double(ctx, d);
      }
      return;
    }
    default:
      return fail(529,
                  "Explicit conversion from data type varbinary to " + type + " is not allowed.");
  }
}

// The operands of '/' and '%' as numbers; text is read as SQL Server reads it
// for arithmetic (245 when it is no number).
bool Operand(sqlite3_context* ctx, sqlite3_value* v, double* d, std::int64_t* i, bool* isInt) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      *i = sqlite3_value_int64(v);
      *d = static_cast<double>(*i);
      *isInt = true;
      return true;
    case SQLITE_FLOAT:
      *d = sqlite3_value_double(v);
      *isInt = false;
      return true;
    default: {
      const std::string s = TextOf(v);
      if (ParseNumber(s, d, i, isInt)) return true;
      Fail(ctx, 245,
           "Conversion failed when converting the varchar value '" + s + "' to data type int.");
      return false;
    }
  }
}

// pv_div(a, b) and pv_mod(a, b): '/' and '%' with SQL Server's failure for a
// zero divisor (SQLite gives Null) and for the one quotient that overflows.
void Arithmetic(sqlite3_context* ctx, sqlite3_value** argv, bool modulo) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  double da = 0, db = 0;
  std::int64_t ia = 0, ib = 0;
  bool inta = false, intb = false;
  if (!Operand(ctx, argv[0], &da, &ia, &inta) || !Operand(ctx, argv[1], &db, &ib, &intb)) return;
  if (db == 0) {
    Fail(ctx, 8134, "Divide by zero error encountered.");
    return;
  }
  if (inta && intb) {
    if (ia == INT64_MIN && ib == -1) {
      Fail(ctx, 8115, "Arithmetic overflow error converting expression to data type bigint.");
      return;
    }
    sqlite3_result_int64(ctx, modulo ? ia % ib : ia / ib);
    return;
  }
  sqlite3_result_double(ctx, modulo ? std::fmod(da, db) : da / db);
}

void DivFunction(sqlite3_context* ctx, int, sqlite3_value** argv) { Arithmetic(ctx, argv, false); }
void ModFunction(sqlite3_context* ctx, int, sqlite3_value** argv) { Arithmetic(ctx, argv, true); }

}  // namespace

DbError DateTimeTextError(std::string_view text) {
  const std::string_view s = common::TrimBlanks(text);
  const size_t end = s.find_first_of(" T");
  const std::string_view date = s.substr(0, end);
  // A valid date in the same place: if the text then reads, its date was
  // out of range.
  if (HasDateShape(date)) {
    std::string probe = "20000101";
    if (end != std::string_view::npos) probe += s.substr(end);
    if (ParseDateTimeText(probe)) {
      return DbError(242,
                     "The conversion of a varchar data type to a datetime data type resulted in "
                     "an out-of-range value.");
    }
  }
  return DbError(241, "Conversion failed when converting date and/or time from character string.");
}

bool IntegerRange(std::string_view type, std::int64_t* low, std::int64_t* high) {
  if (type == "int" || type == "integer") {
    *low = INT32_MIN;
    *high = INT32_MAX;
  } else if (type == "bigint") {
    *low = INT64_MIN;
    *high = INT64_MAX;
  } else if (type == "smallint") {
    *low = INT16_MIN;
    *high = INT16_MAX;
  } else if (type == "tinyint") {
    *low = 0;
    *high = 255;
  } else {
    return false;
  }
  return true;
}

void CheckNumberText(std::string_view value, bool national, std::string_view type) {
  const char* textType = national ? "nvarchar" : "varchar";
  if (value.find_first_not_of(" \t") == std::string_view::npos) {
    if (IsIntegerType(type) || type == "float" || type == "real") return;  // '' reads as 0
  }
  double d = 0;
  std::int64_t i = 0;
  bool isInt = false;
  const bool number = ParseNumber(value, &d, &i, &isInt);
  std::int64_t low = 0, high = 0;
  if (IntegerRange(type, &low, &high)) {
    // An integer type reads digits only: '1.5' fails as 'x1' does.
    bool digits = number;
    for (char c : common::TrimBlanks(value)) {
      if (!IsDigit(c) && c != '-' && c != '+') digits = false;
    }
    if (!digits) {
      throw DbError(245, std::string("Conversion failed when converting the ") + textType +
                             " value '" + std::string(value) + "' to data type " +
                             std::string(type) + ".");
    }
    if (!isInt || i < low || i > high) {
      throw DbError(248, std::string("The conversion of the ") + textType + " value '" +
                             std::string(value) + "' overflowed " + OverflowedColumn(type));
    }
    return;
  }
  if (!number) {
    const bool isFloat = type == "float" || type == "real";
    throw DbError(8114, std::string("Error converting data type ") + textType + " to " +
                            (isFloat ? "float" : "numeric") + ".");
  }
}

int RegisterConversionFunctions(sqlite3* db) {
  const int det = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  int rc =
      sqlite3_create_function(db, "pv_convert", 3, det, nullptr, ConvertFunction, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "pv_div", 2, det, nullptr, DivFunction, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "pv_mod", 2, det, nullptr, ModFunction, nullptr, nullptr);
  }
  return rc;
}

bool Emitter::EmitDivision(size_t b, size_t e, std::string& out) {
  // The factors of the term: unary signs and a primary each, joined by '*',
  // '/' and '%' (left to right, all of one precedence).
  std::vector<Range> factors;
  std::vector<size_t> ops;
  bool divides = false;
  size_t j = b;
  for (;;) {
    size_t p = j;
    while (p < e && (IsOp(t_[p], "-") || IsOp(t_[p], "+") || IsOp(t_[p], "~"))) ++p;
    const size_t end = ParsePrimary(p, e);
    if (end == p) return false;
    factors.push_back({j, end});
    if (end == e) break;
    if (!(IsOp(t_[end], "*") || IsOp(t_[end], "/") || IsOp(t_[end], "%"))) return false;
    divides = divides || !IsOp(t_[end], "*");
    ops.push_back(end);
    j = end + 1;
  }
  if (!divides) return false;
  auto factor = [&](const Range& r) {
    std::string s;
    for (size_t i = r.first; i < r.second;) {
      const size_t p = ParsePrimary(i, r.second);
      if (p > i) {
        EmitPrimary(i, p, s);
        i = p;
      } else {
        EmitToken(i, s);
        ++i;
      }
    }
    return s;
  };
  std::string acc = factor(factors[0]);
  for (size_t n = 0; n < ops.size(); ++n) {
    const std::string next = factor(factors[n + 1]);
    if (IsOp(t_[ops[n]], "*")) {
      acc = "(" + acc + ") * (" + next + ")";
    } else {
      acc = std::string(IsOp(t_[ops[n]], "/") ? "pv_div(" : "pv_mod(") + acc + ", " + next + ")";
    }
  }
  Append(out, acc);
  return true;
}

}  // namespace pv::db::tsql
