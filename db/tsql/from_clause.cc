// The FROM clause and TOP: the tables a statement names (with their
// aliases, for typing its columns), TOP n as LIMIT, parentheses around
// nested joins ("A JOIN B JOIN C ON x ON y"), which SQLite needs, and '*'
// written out where a table is stored in another order than declared.
#include "common/text.h"
#include "db/tsql/emitter.h"
#include "db/tsql/reserved_words.h"

namespace pv::db::tsql {

size_t Emitter::ObjectName(size_t b, size_t e, std::string* name) const {
  size_t i = b;
  if (i >= e ||
      !(t_[i].kind == TokKind::Quoted || (t_[i].kind == TokKind::Word && !IsReservedWord(t_[i])))) {
    return b;
  }
  *name = NameOf(t_[i]);
  ++i;
  while (i + 1 < e && IsOp(t_[i], ".") &&
         (t_[i + 1].kind == TokKind::Word || t_[i + 1].kind == TokKind::Quoted)) {
    *name = NameOf(t_[i + 1]);
    i += 2;
  }
  return i;
}

void Emitter::ScanTables(size_t b, size_t e) {
  tables_.clear();
  for (size_t i = b; i < e; ++i) {
    const Token& k = t_[i];
    if (k.kind != TokKind::Word) continue;
    if (!(IsWord(k, "FROM") || IsWord(k, "JOIN") || IsWord(k, "UPDATE") || IsWord(k, "INTO"))) {
      continue;
    }
    size_t j = i + 1;
    for (;;) {
      std::string table;
      const size_t after = ObjectName(j, e, &table);
      if (after == j) break;
      // A catalog view (INFORMATION_SCHEMA.COLUMNS, sys.objects) is known to
      // the schema by the one name the statement is translated to.
      if (after == j + 3 && (common::EqualsNoCase(NameOf(t_[j]), "INFORMATION_SCHEMA") ||
                             common::EqualsNoCase(NameOf(t_[j]), "sys"))) {
        table = "[" + NameOf(t_[j]) + "." + table + "]";
      }
      tables_.push_back({common::AsciiLower(table), table});
      j = after;
      if (j < e && IsWord(t_[j], "AS")) ++j;
      if (j < e && (t_[j].kind == TokKind::Quoted ||
                    (t_[j].kind == TokKind::Word && !IsReservedWord(t_[j])))) {
        tables_.push_back({common::AsciiLower(NameOf(t_[j])), table});
        ++j;
      }
      if (j < e && IsWord(t_[j], "WITH") && j + 1 < e && IsOp(t_[j + 1], "(")) {
        j = match_[j + 1] + 1;
      }
      if (j < e && IsOp(t_[j], ",") && !IsWord(k, "INTO") && !IsWord(k, "UPDATE")) {
        ++j;
        continue;
      }
      break;
    }
  }
}

size_t Emitter::ParseTop(size_t i, size_t e, std::string* limit) {
  size_t j = i + 1;
  if (j >= e) SyntaxError(t_[i]);
  std::string value;
  bool hundred = false;
  if (IsOp(t_[j], "(")) {
    const size_t close = match_[j];
    hundred = close == j + 2 && t_[j + 1].kind == TokKind::Number && t_[j + 1].text == "100";
    Emit(j + 1, close, value);
    value = "(" + value + ")";
    j = close + 1;
  } else if (t_[j].kind == TokKind::Number) {
    hundred = t_[j].text == "100";
    value = std::string(t_[j].text);
    ++j;
  } else {
    SyntaxError(t_[j]);
  }
  if (j < e && IsWord(t_[j], "PERCENT")) {
    if (!hundred) Unsupported("TOP with a PERCENT other than 100");
    value.clear();
    ++j;
  }
  if (j + 1 < e && IsWord(t_[j], "WITH") && IsWord(t_[j + 1], "TIES")) {
    Unsupported("TOP ... WITH TIES");
  }
  *limit = value;
  return j;
}

size_t Emitter::JoinOperatorEnd(size_t i, size_t e) const {
  size_t j = i;
  if (j < e && (IsWord(t_[j], "INNER") || IsWord(t_[j], "CROSS"))) {
    ++j;
  } else if (j < e && (IsWord(t_[j], "LEFT") || IsWord(t_[j], "RIGHT") || IsWord(t_[j], "FULL"))) {
    ++j;
    if (j < e && IsWord(t_[j], "OUTER")) ++j;
  }
  if (j < e && IsWord(t_[j], "JOIN")) return j + 1;
  return i;
}

size_t Emitter::SourceEnd(size_t i, size_t e) const {
  if (i >= e) return i;
  size_t j = i;
  if (IsOp(t_[j], "(")) {
    j = match_[j] + 1;
  } else {
    std::string name;
    j = ObjectName(i, e, &name);
    if (j == i) return i;
    if (j < e && IsOp(t_[j], "(")) j = match_[j] + 1;  // table-valued function
  }
  if (j < e && IsWord(t_[j], "AS")) ++j;
  if (j < e &&
      (t_[j].kind == TokKind::Quoted || (t_[j].kind == TokKind::Word && !IsReservedWord(t_[j])))) {
    ++j;
  }
  if (j + 1 < e && IsWord(t_[j], "WITH") && IsOp(t_[j + 1], "(")) j = match_[j + 1] + 1;
  return j;
}

size_t Emitter::ConditionEnd(size_t i, size_t e) const {
  size_t j = i;
  while (j < e) {
    if (IsOp(t_[j], "(")) {
      j = match_[j] + 1;
      continue;
    }
    if (IsWord(t_[j], "ON") || IsOp(t_[j], ",") || JoinOperatorEnd(j, e) != j) return j;
    ++j;
  }
  return j;
}

size_t Emitter::JoinedEnd(size_t i, size_t e) {
  size_t j = SourceEnd(i, e);
  if (j == i) return i;
  for (;;) {
    const size_t op = JoinOperatorEnd(j, e);
    if (op == j) return j;
    const bool cross = IsWord(t_[j], "CROSS");
    size_t right = SourceEnd(op, e);
    if (right == op) return j;
    if (!cross && JoinOperatorEnd(right, e) != right) {
      // The right side is itself a join whose ON comes first.
      right = JoinedEnd(op, e);
      parens_.push_back({op, '('});
      parens_.push_back({right, ')'});
    }
    j = right;
    if (!cross && j < e && IsWord(t_[j], "ON")) j = ConditionEnd(j + 1, e);
  }
}

void Emitter::PlanJoinParens(size_t b, size_t e) {
  size_t j = b;
  while (j < e) {
    const size_t next = JoinedEnd(j, e);
    if (next == j || next >= e || !IsOp(t_[next], ",")) return;
    j = next + 1;
  }
}

size_t Emitter::FromEnd(size_t from, size_t e) const {
  size_t end = from + 1;
  while (end < e &&
         !(IsWord(t_[end], "WHERE") || IsWord(t_[end], "GROUP") || IsWord(t_[end], "ORDER") ||
           IsWord(t_[end], "HAVING") || IsWord(t_[end], "UNION") || IsWord(t_[end], "EXCEPT") ||
           IsWord(t_[end], "INTERSECT") || IsWord(t_[end], "OPTION"))) {
    end = IsOp(t_[end], "(") ? match_[end] + 1 : end + 1;
  }
  return end;
}

std::vector<std::string> Emitter::StarColumnsOf(const std::string& qualifier) const {
  const std::string q = common::AsciiLower(qualifier);
  for (const auto& [alias, table] : tables_) {
    if (alias == q) return schema_.StarColumns(table);
  }
  return {};
}

bool Emitter::ExpandStar(size_t from, size_t e, std::string& out) const {
  const size_t end = FromEnd(from, e);
  std::string list;
  bool expanded = false;
  size_t j = from + 1;
  while (j < end) {
    std::string qualifier;  // as SQLite reads it
    std::vector<std::string> columns;
    size_t k = j;
    if (IsOp(t_[j], "(")) {
      if (!(j + 1 < end && IsWord(t_[j + 1], "SELECT"))) return false;  // a parenthesised join
      k = match_[j] + 1;  // a derived table, named by its alias
    } else {
      std::string table;
      k = ObjectName(j, end, &table);
      if (k == j || (k < end && IsOp(t_[k], "("))) return false;
      // A one-part qualifier only: [dbo.]table.
      if (k - j > 3 || (k - j == 3 && !common::EqualsNoCase(NameOf(t_[j]), "dbo"))) return false;
      EmitNameChain(j, k, qualifier);
      columns = schema_.StarColumns(table);
    }
    if (k < end && IsWord(t_[k], "AS")) ++k;
    if (k < end && (t_[k].kind == TokKind::Quoted ||
                    (t_[k].kind == TokKind::Word && !IsReservedWord(t_[k])))) {
      qualifier.clear();
      EmitToken(k, qualifier);
      ++k;
    }
    if (qualifier.empty()) return false;
    if (k + 1 < end && IsWord(t_[k], "WITH") && IsOp(t_[k + 1], "(")) k = match_[k + 1] + 1;
    if (columns.empty()) {
      list += (list.empty() ? "" : ", ") + qualifier + ".*";
    }
    for (const std::string& c : columns) {
      list += (list.empty() ? "" : ", ") + qualifier + "." + QuoteName(c);
      expanded = true;
    }
    while (k < end && IsWord(t_[k], "ON")) k = ConditionEnd(k + 1, end);
    if (k < end && IsOp(t_[k], ",")) {
      j = k + 1;
      continue;
    }
    const size_t op = JoinOperatorEnd(k, end);
    if (op == k && k < end) return false;
    j = op;
  }
  if (!expanded) return false;
  Append(out, list);
  return true;
}

}  // namespace pv::db::tsql
