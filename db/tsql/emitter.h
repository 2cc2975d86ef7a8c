// Writes T-SQL token ranges as SQLite text: names, literals, functions, TOP,
// '+' on text, schema prefixes and catalog names, and typed literals next to
// bit and date-time columns. The work is spread over emitter.cc (tokens,
// names, expressions, the walk over a statement), from_clause.cc (tables,
// TOP, joins), typed_literals.cc (literals meeting typed columns) and
// functions.cc (built-in functions and CONVERT / CAST).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/text.h"
#include "db/tsql/batch_schema.h"
#include "db/tsql/lexer.h"
#include "db/tsql/literals.h"
#include "db/tsql/translator.h"
#include "db/tsql/variables.h"

namespace pv::db::tsql {

// Number given to statement forms the embedded engine does not support.
inline constexpr long kErrUnsupported = 50000;

[[noreturn]] void SyntaxError(const Token& near);
[[noreturn]] void Unsupported(const std::string& what);

// GETDATE() and CURRENT_TIMESTAMP (local time), GETUTCDATE(): the stored
// date-time form, rounded to datetime's steps of 1/300 s (25,920,000 a day),
// so the milliseconds end in 0, 3 or 7 as SQL Server's do.
inline constexpr std::string_view kLocalNow =
    "strftime('%Y-%m-%d %H:%M:%f',round(julianday('now','localtime')*25920000)/25920000.0)";
inline constexpr std::string_view kUtcNow =
    "strftime('%Y-%m-%d %H:%M:%f',round(julianday('now')*25920000)/25920000.0)";

// Ends the text of an INSERT into a table without an identity column: once it
// ran, AfterStatement makes SCOPE_IDENTITY() Null.
inline constexpr std::string_view kNoIdentityMark = " /* no identity */";

// Written after an identity column's AUTOINCREMENT when its seed is not 1
// ("/*pv_seed 100*/"): the stored text keeps the seed for TRUNCATE.
inline constexpr std::string_view kSeedMark = "/*pv_seed ";

using Range = std::pair<size_t, size_t>;

class Emitter {
 public:
  // `match` holds, for every '(' and ')', the index of its partner.
  Emitter(const std::vector<Token>& tokens, const std::vector<size_t>& match,
          const SchemaLookup& schema)
      : t_(tokens), match_(match), schema_(schema) {}

  const std::vector<Token>& tokens() const { return t_; }
  // The schema as the statements of this batch leave it: tables created,
  // altered or dropped earlier in the batch are known before they run.
  BatchSchema& schema() { return schema_; }
  size_t Match(size_t paren) const { return match_[paren]; }
  // The variables the batch has declared so far.
  BatchVariables& variables() { return variables_; }

  // Forgets the tables of the previous statement and collects those that
  // [b, e) names after FROM, JOIN, UPDATE and INTO, with their aliases.
  void ScanTables(size_t b, size_t e);
  void AddTable(const std::string& table) { tables_.push_back({common::AsciiLower(table), table}); }

  // Writes [b, e) as SQLite text.
  void Emit(size_t b, size_t e, std::string& out);

  // Reads an object name (a.b.c, brackets allowed) at b; returns the index
  // after it and sets `name` to its last part. Returns b when there is none.
  size_t ObjectName(size_t b, size_t e, std::string* name) const;

  // Writes a single literal [b, e) (a literal, or '-' and a number) converted
  // the way SQL Server converts it for a column of class `cls`. False when
  // nothing needed converting (the caller then writes it as it stands).
  // Throws DbError when SQL Server would reject the conversion; `type` (the
  // column's declared type) names the type in that error.
  bool EmitTypedLiteral(size_t b, size_t e, TypeClass cls, std::string& out,
                        std::string_view type = {});
  bool IsLiteral(size_t b, size_t e) const;

  // The declared type of a column reference [b, e), resolved through the
  // collected tables and aliases; empty when unknown.
  std::string ColumnTypeOf(size_t b, size_t e) const;

  // Reads TOP n / TOP (n) [PERCENT] at i into `limit` (empty for TOP (100)
  // PERCENT); returns the index after it.
  size_t ParseTop(size_t i, size_t e, std::string* limit);

  // Top-level comma-separated parts of [b, e).
  std::vector<Range> SplitCommas(size_t b, size_t e) const;
  // First top-level Word `keyword` in [b, e), or e.
  size_t FindWord(size_t b, size_t e, std::string_view keyword) const;

  // Appends `text` with a separating blank where one is needed.
  static void Append(std::string& out, std::string_view text);
  void EmitToken(size_t i, std::string& out) const;
  // Writes an object or column name a.b.c without the schema "dbo".
  void EmitNameChain(size_t b, size_t e, std::string& out) const;

 private:
  bool StartsOperand(size_t i, size_t e) const;
  size_t ParsePrimary(size_t i, size_t e) const;
  size_t ParseTerm(size_t i, size_t e) const;
  size_t EmitChain(size_t i, size_t e, std::string& out);
  bool TryTypedPredicate(size_t tb, size_t te, size_t e, std::string& out, size_t* after);
  void EmitTerm(size_t b, size_t e, std::string& out);
  // A term with '/' or '%' written through pv_div / pv_mod (conversions.cc),
  // so that a zero divisor fails as in SQL Server; false when it has none.
  bool EmitDivision(size_t b, size_t e, std::string& out);
  void EmitPrimary(size_t b, size_t e, std::string& out);
  void EmitFunction(size_t b, size_t open, std::string& out);
  // `style` is CONVERT's third argument, empty when none is given.
  void EmitCast(Range type, Range expr, std::string& out, Range style = {0, 0});
  // ISNULL(a, b): b takes the type of a (cut to a text column's length).
  std::string IsNull(Range a, const std::string& first, Range b, const std::string& second) const;
  // The argument of DATALENGTH [b, e) as pv_datalength(value, kind).
  std::string DataLength(size_t b, size_t e, const std::string& value) const;
  // Writes the select list that begins at b; returns where it ends.
  size_t EmitSelectList(size_t b, size_t e, std::string& out);
  // Nested joins ("A JOIN B JOIN C ON x ON y") need parentheses in SQLite:
  // records where they go for the FROM clause [b, e).
  void PlanJoinParens(size_t b, size_t e);
  size_t JoinOperatorEnd(size_t i, size_t e) const;
  size_t SourceEnd(size_t i, size_t e) const;
  size_t JoinedEnd(size_t i, size_t e);
  size_t ConditionEnd(size_t i, size_t e) const;
  // The end of the FROM clause whose keyword is at `from`.
  size_t FromEnd(size_t from, size_t e) const;
  // A '*' in a select list with its FROM keyword at `from`, written out as
  // the columns of a table stored in another order than declared
  // (column_order.h) and q.* for the other sources. False, nothing written,
  // when no source is such a table or the FROM clause is not read here.
  bool ExpandStar(size_t from, size_t e, std::string& out) const;
  // The declared columns of the table `qualifier` names, when that table is
  // stored in another order; empty otherwise.
  std::vector<std::string> StarColumnsOf(const std::string& qualifier) const;
  bool IsColumnRef(size_t b, size_t e) const;
  enum class Kind { Unknown, Null, Number, Text, Date };
  Kind OperandKind(size_t b, size_t e) const;
  std::string TableOf(const std::string& qualifier) const;

  const std::vector<Token>& t_;
  const std::vector<size_t>& match_;
  BatchSchema schema_;
  // (lower-case alias or table name, table name)
  std::vector<std::pair<std::string, std::string>> tables_;
  BatchVariables variables_;
  // Set by TRY_CONVERT for the EmitCast it calls: failures give Null.
  bool tryConvert_ = false;
  // Parentheses to write before given token positions: '(' or ')'.
  std::vector<std::pair<size_t, char>> parens_;
};

}  // namespace pv::db::tsql
