// Splits T-SQL text into tokens. Text literals, bracketed names and comments
// are recognised as whole tokens, so nothing later ever rewrites inside them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace pv::db::tsql {

enum class TokKind : std::uint8_t {
  Word,     // identifier, keyword or @variable
  Quoted,   // [name] or "name"
  String,   // 'text'
  NString,  // N'text'
  Number,   // 12, 1.5, 2e3
  Hex,      // 0x1F
  Op,       // punctuation and operators: ( ) , . + - * / % = < > <= >= <> != ...
  Semi,     // ;
  Go,       // a GO line (batch separator)
};

struct Token {
  TokKind kind;
  std::string_view text;  // the token as written in the source
};

// Tokenizes `sql`; comments and blanks are dropped. Throws DbError 105 for an
// unclosed quotation mark and 113 for an unclosed comment.
std::vector<Token> Tokenize(std::string_view sql);

// The name a Word or Quoted token stands for ("[a]]b]" -> "a]b").
std::string NameOf(const Token& t);

// The text a String or NString literal stands for, quotes undoubled.
std::string StringValue(const Token& t);

// Case-insensitive comparison of a Word token with an upper-case keyword.
inline bool IsWord(const Token& t, std::string_view upperKeyword) {
  return t.kind == TokKind::Word && t.text.size() == upperKeyword.size() &&
         common::EqualsNoCase(t.text, upperKeyword);
}
// An operator token of one or two characters.
inline bool IsOp(const Token& t, std::string_view op) {
  return t.kind == TokKind::Op && t.text.size() == op.size() && t.text[0] == op[0] &&
         (op.size() == 1 || t.text[1] == op[1]);
}

// `s` as a SQLite quoted identifier: "s" with inner quotes doubled.
std::string QuoteName(std::string_view s);
// `s` as a SQL text literal: 's' with inner quotes doubled.
std::string QuoteText(std::string_view s);

}  // namespace pv::db::tsql
