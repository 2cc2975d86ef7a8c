// The emitter's core: tokens and names written as SQLite text, expressions
// parsed into terms and chains of '+' / '-' (concatenation of text, addition
// of numbers), and the walk over a statement that hands TOP, FROM, typed
// predicates and functions to their parts (from_clause.cc, typed_literals.cc,
// functions.cc).
#include "db/tsql/emitter.h"

#include "common/cp1252.h"
#include "common/text.h"
#include "db/error.h"
#include "db/tsql/reserved_words.h"

namespace pv::db::tsql {
namespace {

// Reserved words that still begin an expression operand.
bool IsOperandKeyword(const Token& t, bool followedByParen) {
  if (IsWord(t, "NULL") || IsWord(t, "CASE") || IsWord(t, "CURRENT_TIMESTAMP")) return true;
  if (!followedByParen) return false;
  return IsWord(t, "CONVERT") || IsWord(t, "TRY_CONVERT") || IsWord(t, "COALESCE") ||
         IsWord(t, "NULLIF") || IsWord(t, "LEFT") || IsWord(t, "RIGHT");
}

}  // namespace

void SyntaxError(const Token& near) {
  throw DbError(102, "Incorrect syntax near '" + std::string(near.text) + "'.");
}

void Unsupported(const std::string& what) {
  throw DbError(kErrUnsupported, what + " is not supported by the embedded engine.");
}

void Emitter::Append(std::string& out, std::string_view text) {
  if (text.empty()) return;
  if (!out.empty()) {
    const char last = out.back();
    const char first = text.front();
    if (!(last == '(' || last == '.' || last == ' ' || first == ')' || first == ',' ||
          first == '.' || first == '(')) {
      out.push_back(' ');
    }
  }
  out.append(text);
}

void Emitter::EmitToken(size_t i, std::string& out) const {
  const Token& k = t_[i];
  switch (k.kind) {
    case TokKind::Quoted:
      Append(out, QuoteName(NameOf(k)));
      return;
    case TokKind::NString:
      Append(out, k.text.substr(1));
      return;
    case TokKind::String:
      // Text without N holds what Windows-1252 holds; other characters
      // become '?', as in SQL Server's varchar.
      for (char c : k.text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
          Append(out, QuoteText(common::Cp1252ToUtf8(common::Utf8ToCp1252(StringValue(k)))));
          return;
        }
      }
      Append(out, k.text);
      return;
    case TokKind::Hex: {
      std::string h = "X'";
      std::string_view digits = k.text.substr(2);
      if (digits.size() % 2 == 1) h.push_back('0');
      h.append(digits);
      h.push_back('\'');
      Append(out, h);
      return;
    }
    case TokKind::Op:
      if (k.text == "!<") {
        Append(out, ">=");
      } else if (k.text == "!>") {
        Append(out, "<=");
      } else {
        Append(out, k.text);
      }
      return;
    case TokKind::Word:
      if (k.text[0] == '@' && k.text.size() > 1) {
        if (IsWord(k, "@@IDENTITY")) {
          Append(out, "nullif(last_insert_rowid(), 0)");
        } else if (IsWord(k, "@@ROWCOUNT")) {
          Append(out, "pv_rowcount()");
        } else if (k.text[1] == '@') {
          Unsupported("The system function " + std::string(k.text));
        } else {
          Append(out, variables_.Read(k.text));
        }
        return;
      }
      if (IsWord(k, "CURRENT_TIMESTAMP")) {
        Append(out, kLocalNow);
        return;
      }
      Append(out, k.text);
      return;
    case TokKind::Go:
    case TokKind::Semi:
      return;
    default:
      Append(out, k.text);
      return;
  }
}

std::vector<Range> Emitter::SplitCommas(size_t b, size_t e) const {
  std::vector<Range> parts;
  size_t start = b;
  for (size_t i = b; i < e; ++i) {
    if (IsOp(t_[i], "(")) {
      i = match_[i];
    } else if (IsOp(t_[i], ",")) {
      parts.push_back({start, i});
      start = i + 1;
    }
  }
  if (start < e || !parts.empty()) parts.push_back({start, e});
  return parts;
}

size_t Emitter::FindWord(size_t b, size_t e, std::string_view keyword) const {
  for (size_t i = b; i < e; ++i) {
    if (IsOp(t_[i], "(")) {
      i = match_[i];
    } else if (IsWord(t_[i], keyword)) {
      return i;
    }
  }
  return e;
}

bool Emitter::StartsOperand(size_t i, size_t e) const {
  if (i >= e) return false;
  const Token& k = t_[i];
  switch (k.kind) {
    case TokKind::String:
    case TokKind::NString:
    case TokKind::Number:
    case TokKind::Hex:
    case TokKind::Quoted:
      return true;
    case TokKind::Word:
      if (!IsReservedWord(k)) return true;
      return IsOperandKeyword(k, i + 1 < e && IsOp(t_[i + 1], "("));
    case TokKind::Op:
      if (k.text == "(") return true;
      if (k.text == "-" || k.text == "+" || k.text == "~") return StartsOperand(i + 1, e);
      return false;
    default:
      return false;
  }
}

size_t Emitter::ParsePrimary(size_t i, size_t e) const {
  if (i >= e) return i;
  const Token& k = t_[i];
  size_t j = i;
  switch (k.kind) {
    case TokKind::String:
    case TokKind::NString:
    case TokKind::Number:
    case TokKind::Hex:
      j = i + 1;
      break;
    case TokKind::Op:
      if (k.text != "(") return i;
      j = match_[i] + 1;
      break;
    case TokKind::Word:
    case TokKind::Quoted: {
      const bool paren = i + 1 < e && IsOp(t_[i + 1], "(");
      if (IsWord(k, "CASE")) {
        int depth = 0;
        for (j = i; j < e; ++j) {
          if (IsOp(t_[j], "(")) {
            j = match_[j];
          } else if (IsWord(t_[j], "CASE")) {
            ++depth;
          } else if (IsWord(t_[j], "END")) {
            if (--depth == 0) break;
          }
        }
        if (j >= e) SyntaxError(t_[e - 1]);
        j = j + 1;
        break;
      }
      if (IsReservedWord(k)) {
        if (!IsOperandKeyword(k, paren)) return i;
        j = paren ? match_[i + 1] + 1 : i + 1;
        break;
      }
      j = i + 1;
      while (j + 1 < e && IsOp(t_[j], ".")) {
        if (t_[j + 1].kind == TokKind::Word || t_[j + 1].kind == TokKind::Quoted) {
          j += 2;
        } else if (IsOp(t_[j + 1], "*")) {
          j += 2;
          break;
        } else {
          break;
        }
      }
      if (j < e && IsOp(t_[j], "(")) j = match_[j] + 1;
      break;
    }
    default:
      return i;
  }
  if (j + 1 < e && IsWord(t_[j], "COLLATE")) j += 2;
  return j;
}

size_t Emitter::ParseTerm(size_t i, size_t e) const {
  size_t j = i;
  while (j < e && (IsOp(t_[j], "-") || IsOp(t_[j], "+") || IsOp(t_[j], "~"))) ++j;
  size_t p = ParsePrimary(j, e);
  if (p == j) return i;
  while (p < e && (IsOp(t_[p], "*") || IsOp(t_[p], "/") || IsOp(t_[p], "%"))) {
    size_t q = p + 1;
    while (q < e && (IsOp(t_[q], "-") || IsOp(t_[q], "+") || IsOp(t_[q], "~"))) ++q;
    const size_t r = ParsePrimary(q, e);
    if (r == q) break;
    p = r;
  }
  return p;
}

size_t Emitter::EmitChain(size_t i, size_t e, std::string& out) {
  const size_t firstEnd = ParseTerm(i, e);
  if (firstEnd == i) {
    EmitToken(i, out);
    return i + 1;
  }
  std::vector<Range> terms{{i, firstEnd}};
  std::vector<size_t> ops;
  size_t te = firstEnd;
  while (te < e && (IsOp(t_[te], "+") || IsOp(t_[te], "-"))) {
    const size_t next = ParseTerm(te + 1, e);
    if (next == te + 1) break;
    ops.push_back(te);
    terms.push_back({te + 1, next});
    te = next;
  }
  if (ops.empty()) {
    size_t after = te;
    if (TryTypedPredicate(i, te, e, out, &after)) return after;
    EmitTerm(i, te, out);
    return te;
  }
  bool hasPlus = false;
  bool hasMinus = false;
  for (size_t op : ops) {
    if (IsOp(t_[op], "+")) {
      hasPlus = true;
    } else {
      hasMinus = true;
    }
  }
  bool allNumbers = true;
  bool allText = true;
  for (const Range& r : terms) {
    const Kind k = OperandKind(r.first, r.second);
    if (k != Kind::Number && k != Kind::Null) allNumbers = false;
    if (k != Kind::Text && k != Kind::Null) allText = false;
  }
  if (!hasPlus || allNumbers) {
    for (size_t n = 0; n < terms.size(); ++n) {
      if (n > 0) EmitToken(ops[n - 1], out);
      EmitTerm(terms[n].first, terms[n].second, out);
    }
    return te;
  }
  std::vector<std::string> parts;
  parts.reserve(terms.size());
  for (const Range& r : terms) {
    std::string s;
    EmitTerm(r.first, r.second, s);
    parts.push_back(std::move(s));
  }
  std::string acc;
  if (allText && !hasMinus) {
    // Text + text: concatenation (Null stays Null, as with SQL Server's
    // default CONCAT_NULL_YIELDS_NULL).
    acc = "(";
    for (size_t n = 0; n < parts.size(); ++n) {
      if (n > 0) acc += " || ";
      acc += "(" + parts[n] + ")";
    }
    acc += ") COLLATE NOCASE";
  } else {
    // Decided per row: pv_add concatenates text and adds numbers.
    acc = parts[0];
    for (size_t n = 1; n < parts.size(); ++n) {
      if (IsOp(t_[ops[n - 1]], "+")) {
        acc = "pv_add(" + acc + ", " + parts[n] + ")";
      } else {
        acc = "(" + acc + ") - (" + parts[n] + ")";
      }
    }
  }
  Append(out, acc);
  return te;
}

void Emitter::EmitTerm(size_t b, size_t e, std::string& out) {
  if (EmitDivision(b, e, out)) return;
  size_t j = b;
  while (j < e) {
    const size_t p = ParsePrimary(j, e);
    if (p > j) {
      EmitPrimary(j, p, out);
      j = p;
    } else {
      EmitToken(j, out);
      ++j;
    }
  }
}

void Emitter::EmitPrimary(size_t b, size_t e, std::string& out) {
  size_t end = e;
  bool collate = false;
  if (e - b >= 3 && IsWord(t_[e - 2], "COLLATE")) {
    end = e - 2;
    collate = true;
  }
  const Token& k = t_[b];
  if (IsOp(k, "(")) {
    Append(out, "(");
    Emit(b + 1, match_[b], out);
    Append(out, ")");
  } else if (IsWord(k, "CASE")) {
    Append(out, "CASE");
    Emit(b + 1, end - 1, out);
    Append(out, "END");
  } else if ((k.kind == TokKind::Word || k.kind == TokKind::Quoted) && end - b >= 2 &&
             IsOp(t_[end - 1], ")") && IsOp(t_[match_[end - 1]], "(") && match_[end - 1] > b) {
    EmitFunction(b, match_[end - 1], out);
  } else if (k.kind == TokKind::Word || k.kind == TokKind::Quoted) {
    if (end - b == 1) {
      EmitToken(b, out);
    } else {
      EmitNameChain(b, end, out);
    }
  } else {
    for (size_t i = b; i < end; ++i) EmitToken(i, out);
    // A text literal compares as SQL Server's default collation does, also
    // against other literals and expressions that have no collation.
    if (!collate && end == b + 1 && (k.kind == TokKind::String || k.kind == TokKind::NString)) {
      Append(out, "COLLATE NOCASE");
    }
  }
  if (collate) {
    Append(out, "COLLATE");
    const std::string name = common::AsciiUpper(NameOf(t_[e - 1]));
    Append(out, name.find("_CS") != std::string::npos || name.find("BIN") != std::string::npos
                    ? "BINARY"
                    : "NOCASE");
  }
}

void Emitter::EmitNameChain(size_t b, size_t e, std::string& out) const {
  std::vector<size_t> parts;
  bool star = false;
  for (size_t i = b; i < e; i += 2) {
    if (IsOp(t_[i], "*")) {
      star = true;
      break;
    }
    parts.push_back(i);
  }
  // Drop the schema "dbo" (a.dbo.b keeps a, the database).
  std::vector<size_t> kept;
  for (size_t n = 0; n < parts.size(); ++n) {
    const bool last = n + 1 == parts.size() && !star;
    if (!last && common::EqualsNoCase(NameOf(t_[parts[n]]), "dbo")) continue;
    kept.push_back(parts[n]);
  }
  std::string text;
  size_t n = 0;
  if (kept.size() >= 2 && !(kept.size() == 2 && star)) {
    const std::string first = NameOf(t_[kept[0]]);
    if (common::EqualsNoCase(first, "INFORMATION_SCHEMA")) {
      text = QuoteName("INFORMATION_SCHEMA." + common::AsciiUpper(NameOf(t_[kept[1]])));
      n = 2;
    } else if (common::EqualsNoCase(first, "sys")) {
      text = QuoteName("sys." + common::AsciiLower(NameOf(t_[kept[1]])));
      n = 2;
    }
  }
  for (; n < kept.size(); ++n) {
    if (!text.empty()) text.push_back('.');
    const Token& k = t_[kept[n]];
    if (k.kind == TokKind::Quoted) {
      text += QuoteName(NameOf(k));
    } else {
      text.append(k.text);
    }
  }
  if (star && kept.size() == 1) {
    // t.* over a table stored in another order than declared.
    const std::vector<std::string> columns = StarColumnsOf(NameOf(t_[kept[0]]));
    if (!columns.empty()) {
      const std::string qualifier = std::move(text);
      text.clear();
      for (const std::string& c : columns) {
        text += (text.empty() ? "" : ", ") + qualifier + "." + QuoteName(c);
      }
      star = false;
    }
  }
  if (star) text += text.empty() ? "*" : ".*";
  Append(out, text);
}

size_t Emitter::EmitSelectList(size_t b, size_t e, std::string& out) {
  size_t end = b;
  while (end < e &&
         !(IsWord(t_[end], "FROM") || IsWord(t_[end], "INTO") || IsWord(t_[end], "WHERE") ||
           IsWord(t_[end], "GROUP") || IsWord(t_[end], "ORDER") || IsWord(t_[end], "HAVING") ||
           IsWord(t_[end], "UNION") || IsWord(t_[end], "EXCEPT") || IsWord(t_[end], "INTERSECT") ||
           IsWord(t_[end], "OPTION") || IsWord(t_[end], "FOR") || t_[end].kind == TokKind::Semi)) {
    end = IsOp(t_[end], "(") ? match_[end] + 1 : end + 1;
  }
  const std::vector<Range> items = SplitCommas(b, end);
  for (size_t n = 0; n < items.size(); ++n) {
    const auto [ib, ie] = items[n];
    if (n > 0) Append(out, ",");
    if (ib == ie) continue;
    // A bare '*' lists the FROM clause's columns in their declared order.
    if (ie - ib == 1 && IsOp(t_[ib], "*") && end < e && IsWord(t_[end], "FROM") &&
        ExpandStar(end, e, out)) {
      continue;
    }
    // The alias: "AS name", or a name (or text) right after the expression.
    const Token& last = t_[ie - 1];
    const bool nameLike =
        last.kind == TokKind::Quoted || last.kind == TokKind::String ||
        last.kind == TokKind::NString ||
        (last.kind == TokKind::Word && !IsReservedWord(last) && last.text[0] != '@');
    size_t exprEnd = ie;
    if (nameLike && ie - ib >= 3 && IsWord(t_[ie - 2], "AS")) {
      exprEnd = ie - 2;
    } else if (nameLike && ie - ib >= 2 && !IsWord(t_[ie - 2], "COLLATE") &&
               (t_[ie - 2].kind != TokKind::Op || IsOp(t_[ie - 2], ")"))) {
      exprEnd = ie - 1;
    }
    Emit(ib, exprEnd, out);
    if (exprEnd < ie) {
      Append(out, "AS");
      const bool text = last.kind == TokKind::String || last.kind == TokKind::NString;
      Append(out, QuoteName(text ? StringValue(last) : NameOf(last)));
    } else if (!(IsOp(last, "*") && (ie - ib == 1 || IsOp(t_[ie - 2], "."))) &&
               !IsColumnRef(ib, ie)) {
      // An expression without a name has an empty column name, as in SQL
      // Server (SQLite would name it after its own text).
      Append(out, "AS \"\"");
    }
  }
  return end;
}

void Emitter::Emit(size_t b, size_t e, std::string& out) {
  std::string limit;
  size_t i = b;
  while (i < e) {
    const Token& k = t_[i];
    if (!parens_.empty()) {
      for (const auto& [at, paren] : parens_) {
        if (at == i) Append(out, paren == '(' ? "(" : ")");
      }
    }
    if (k.kind == TokKind::Word) {
      if (IsWord(k, "FROM")) PlanJoinParens(i + 1, FromEnd(i, e));
      if (IsWord(k, "SELECT")) {
        Append(out, "SELECT");
        ++i;
        if (i < e && (IsWord(t_[i], "DISTINCT") || IsWord(t_[i], "ALL"))) {
          EmitToken(i, out);
          ++i;
        }
        if (i < e && IsWord(t_[i], "TOP")) i = ParseTop(i, e, &limit);
        i = EmitSelectList(i, e, out);
        continue;
      }
      if (IsWord(k, "UNION") || IsWord(k, "EXCEPT") || IsWord(k, "INTERSECT")) {
        if (!limit.empty())
          Unsupported("TOP in a SELECT followed by " + common::AsciiUpper(k.text));
        EmitToken(i, out);
        ++i;
        continue;
      }
      if (IsWord(k, "WITH") && i + 2 < e && IsOp(t_[i + 1], "(") &&
          (IsWord(t_[i + 2], "NOLOCK") || IsWord(t_[i + 2], "READUNCOMMITTED") ||
           IsWord(t_[i + 2], "ROWLOCK") || IsWord(t_[i + 2], "UPDLOCK") ||
           IsWord(t_[i + 2], "HOLDLOCK") || IsWord(t_[i + 2], "TABLOCK"))) {
        i = match_[i + 1] + 1;  // table hints: locking is SQLite's own
        continue;
      }
    }
    if (StartsOperand(i, e)) {
      i = EmitChain(i, e, out);
      continue;
    }
    EmitToken(i, out);
    ++i;
  }
  for (const auto& [at, paren] : parens_) {
    if (at == e && paren == ')') Append(out, ")");
  }
  if (!limit.empty()) {
    Append(out, "LIMIT");
    Append(out, limit);
  }
}

}  // namespace pv::db::tsql
