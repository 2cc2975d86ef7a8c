#include "db/tsql/translator.h"

#include "db/tsql/control_flow.h"
#include "db/tsql/emitter.h"
#include "db/tsql/lexer.h"
#include "db/tsql/statements.h"

namespace pv::db::tsql {
namespace {

// Deepest nesting of parentheses accepted (SQLite's parser takes a little
// less). The emitter recurses once per level, and a batch of a few kilobytes
// could otherwise exhaust the stack of the thread translating it.
constexpr size_t kMaxNesting = 100;

// Partner index of every parenthesis; throws 102 when they do not pair and
// 191 when they nest deeper than kMaxNesting.
std::vector<size_t> MatchParens(const std::vector<Token>& t) {
  std::vector<size_t> match(t.size(), 0);
  std::vector<size_t> open;
  for (size_t i = 0; i < t.size(); ++i) {
    if (IsOp(t[i], "(")) {
      if (open.size() == kMaxNesting) {
        throw DbError(191,
                      "Some part of your SQL statement is nested too deeply. Rewrite the query "
                      "or break it up into smaller queries.");
      }
      open.push_back(i);
    } else if (IsOp(t[i], ")")) {
      if (open.empty()) SyntaxError(t[i]);
      match[i] = open.back();
      match[open.back()] = i;
      open.pop_back();
    }
  }
  if (!open.empty()) SyntaxError(t.back());
  return match;
}

bool Prev(const std::vector<Token>& t, size_t i, std::string_view word) {
  return i > 0 && IsWord(t[i - 1], word);
}

// Whether the Word at i (depth 0) begins a new statement of a batch in which
// statements may follow each other without a separator.
bool StartsStatement(const std::vector<Token>& t, const std::vector<size_t>& match, size_t start,
                     size_t i) {
  const Token& w = t[i];
  const Token& first = t[start];
  const bool afterComma = i > 0 && IsOp(t[i - 1], ",");
  if (IsWord(w, "CREATE") || IsWord(w, "USE") || IsWord(w, "TRUNCATE") || IsWord(w, "DECLARE") ||
      IsWord(w, "PRINT") || IsWord(w, "EXEC") || IsWord(w, "EXECUTE") || IsWord(w, "GRANT") ||
      IsWord(w, "REVOKE") || IsWord(w, "COMMIT") || IsWord(w, "ROLLBACK")) {
    return true;
  }
  if (IsWord(w, "BEGIN")) return !IsWord(first, "CREATE");
  if (IsWord(w, "IF") || IsWord(w, "WHILE")) {
    // Not the IF of DROP TABLE IF EXISTS, CREATE INDEX IF NOT EXISTS, ...
    return !(Prev(t, i, "TABLE") || Prev(t, i, "VIEW") || Prev(t, i, "INDEX") ||
             Prev(t, i, "DATABASE") || Prev(t, i, "PROCEDURE") || Prev(t, i, "PROC") ||
             Prev(t, i, "FUNCTION") || Prev(t, i, "TRIGGER") || Prev(t, i, "SCHEMA"));
  }
  if (IsWord(w, "ALTER") || IsWord(w, "DROP")) return !IsWord(first, "ALTER");
  if (IsWord(w, "INSERT") || IsWord(w, "UPDATE") || IsWord(w, "DELETE")) {
    return !(Prev(t, i, "ON") || Prev(t, i, "FOR") || Prev(t, i, "AFTER") || Prev(t, i, "OF") ||
             afterComma);
  }
  if (IsWord(w, "SET")) {
    if (IsWord(first, "UPDATE") || IsWord(first, "ALTER")) return false;
    if (i >= 2 && (Prev(t, i, "DELETE") || Prev(t, i, "UPDATE")) && IsWord(t[i - 2], "ON")) {
      return false;
    }
    return true;
  }
  if (IsWord(w, "SELECT")) {
    if (Prev(t, i, "UNION") || Prev(t, i, "ALL") || Prev(t, i, "EXCEPT") ||
        Prev(t, i, "INTERSECT") || Prev(t, i, "AS")) {
      return false;
    }
    if (IsWord(first, "WITH")) return false;
    if (IsWord(first, "INSERT")) {
      for (size_t k = start; k < i; ++k) {
        if (IsOp(t[k], "(")) {
          k = match[k];
        } else if (IsWord(t[k], "VALUES") || IsWord(t[k], "SELECT")) {
          return true;
        }
      }
      return false;
    }
    return true;
  }
  return false;
}

std::vector<Range> Split(const std::vector<Token>& t, const std::vector<size_t>& match) {
  std::vector<Range> out;
  size_t start = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    const Token& k = t[i];
    if (IsOp(k, "(")) {
      i = match[i];
    } else if (k.kind == TokKind::Semi || k.kind == TokKind::Go) {
      if (i > start) out.push_back({start, i});
      start = i + 1;
    } else if (k.kind == TokKind::Word && i > start && StartsStatement(t, match, start, i)) {
      out.push_back({start, i});
      start = i;
    }
  }
  if (start < t.size()) out.push_back({start, t.size()});
  return out;
}

void TranslateSet(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  if (b + 1 >= e) SyntaxError(t[b]);
  if (t[b + 1].text[0] == '@' && t[b + 1].text.size() > 1 && t[b + 1].text[1] != '@') {
    return TranslateSetVariable(em, b, e, out);
  }
  if (!IsWord(t[b + 1], "IDENTITY_INSERT")) return;  // session options have no effect here
  std::string table;
  const size_t nameEnd = em.ObjectName(b + 2, e, &table);
  if (nameEnd == b + 2 || nameEnd + 1 != e) SyntaxError(t[nameEnd < e ? nameEnd : e - 1]);
  const bool on = IsWord(t[nameEnd], "ON");
  if (!on && !IsWord(t[nameEnd], "OFF")) SyntaxError(t[nameEnd]);
  // One table at a time, as in SQL Server.
  const size_t from = out.size();
  out.push_back({Statement::Kind::Sql, "DELETE FROM temp.pv_identity_insert", {}});
  if (on) {
    out.push_back({Statement::Kind::Sql,
                   "INSERT INTO temp.pv_identity_insert (name) VALUES (" + QuoteText(table) + ")",
                   {}});
  }
  RunAsOne(out, from);
}

void TranslateTransaction(const std::vector<Token>& t, size_t b, size_t e,
                          std::vector<Statement>& out) {
  const Token& w = t[b];
  size_t k = b + 1;
  if (IsWord(w, "BEGIN")) {
    if (k >= e || !(IsWord(t[k], "TRAN") || IsWord(t[k], "TRANSACTION"))) {
      Unsupported("BEGIN ... END blocks");
    }
    out.push_back({Statement::Kind::Sql, "BEGIN", {}});
    return;
  }
  out.push_back({Statement::Kind::Sql, IsWord(w, "COMMIT") ? "COMMIT" : "ROLLBACK", {}});
}

void TranslateOne(Emitter& em, size_t b, size_t e, std::vector<Statement>& out) {
  const auto& t = em.tokens();
  const Token& w = t[b];
  const Token* second = b + 1 < e ? &t[b + 1] : nullptr;
  if (w.kind == TokKind::Word) {
    if (IsWord(w, "CREATE") && second) {
      if (IsWord(*second, "TABLE")) return TranslateCreateTable(em, b, e, out);
      if (IsWord(*second, "VIEW")) return TranslateCreateView(em, b, e, out);
      if (IsWord(*second, "INDEX") || IsWord(*second, "UNIQUE") || IsWord(*second, "CLUSTERED") ||
          IsWord(*second, "NONCLUSTERED")) {
        return TranslateCreateIndex(em, b, e, out);
      }
      if (IsWord(*second, "DATABASE")) {
        if (b + 2 >= e) SyntaxError(t[e - 1]);
        out.push_back({Statement::Kind::CreateDatabase, {}, NameOf(t[b + 2])});
        return;
      }
    }
    if (IsWord(w, "USE")) {
      if (b + 2 != e) SyntaxError(t[b + 1 < e ? b + 1 : b]);
      out.push_back({Statement::Kind::UseDatabase, {}, NameOf(t[b + 1])});
      return;
    }
    if (IsWord(w, "ALTER") && second && IsWord(*second, "TABLE")) {
      return TranslateAlterTable(em, b, e, out);
    }
    if (IsWord(w, "DROP")) return TranslateDrop(em, b, e, out);
    if (IsWord(w, "INSERT")) return TranslateInsert(em, b, e, out);
    if (IsWord(w, "UPDATE")) return TranslateUpdate(em, b, e, out);
    if (IsWord(w, "DELETE")) return TranslateDelete(em, b, e, out);
    if (IsWord(w, "TRUNCATE")) return TranslateTruncate(em, b, e, out);
    if (IsWord(w, "SET")) return TranslateSet(em, b, e, out);
    if (IsWord(w, "DECLARE")) return TranslateDeclare(em, b, e, out);
    if (IsWord(w, "SELECT") && TranslateSelectAssign(em, b, e, out)) return;
    if (IsWord(w, "BEGIN") || IsWord(w, "COMMIT") || IsWord(w, "ROLLBACK")) {
      return TranslateTransaction(t, b, e, out);
    }
  }
  em.ScanTables(b, e);
  std::string sql;
  em.Emit(b, e, sql);
  out.push_back({Statement::Kind::Sql, std::move(sql), {}});
}

}  // namespace

void RunAsOne(std::vector<Statement>& out, size_t from) {
  if (out.size() < from + 2) return;
  std::string sql = "SAVEPOINT pv_statement; ";
  for (size_t i = from; i < out.size(); ++i) sql += out[i].sql + "; ";
  sql += "RELEASE pv_statement";
  out.resize(from + 1);
  out[from].sql = std::move(sql);
}

std::vector<Statement> Translate(std::string_view batch, const SchemaLookup& schema,
                                 BatchVariables* carry) {
  schema.BeginTranslate();
  const std::vector<Token> tokens = Tokenize(batch);
  const std::vector<size_t> match = MatchParens(tokens);
  Emitter em(tokens, match, schema);
  if (carry != nullptr) em.variables() = *carry;
  std::vector<Statement> out;
  TranslateBlocks(em, Split(tokens, match), TranslateOne, out);
  if (carry != nullptr) *carry = em.variables();
  return out;
}

std::vector<std::string_view> SplitBatch(std::string_view batch) {
  const std::vector<Token> tokens = Tokenize(batch);
  const std::vector<size_t> match = MatchParens(tokens);
  std::vector<std::string_view> out;
  for (const Range& r : Split(tokens, match)) {
    const char* begin = tokens[r.first].text.data();
    const Token& last = tokens[r.second - 1];
    out.emplace_back(begin, static_cast<size_t>(last.text.data() + last.text.size() - begin));
  }
  return out;
}

}  // namespace pv::db::tsql
