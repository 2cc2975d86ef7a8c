#include "db/tsql/lexer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "db/error.h"
#include "db/sql_text.h"

namespace pv::db::tsql {
namespace {

// Character classes, one table lookup each. T-SQL's blanks include form feed
// and vertical tab besides the blanks of common/text.h.
enum : unsigned char { kBlank = 1, kIdentStart = 2, kIdentPart = 4, kDigit = 8, kHex = 16 };

constexpr std::array<unsigned char, 256> MakeClasses() {
  std::array<unsigned char, 256> c{};
  for (int i = 0; i < 256; ++i) {
    unsigned char v = 0;
    if (i == ' ' || i == '\t' || i == '\r' || i == '\n' || i == '\f' || i == '\v') v |= kBlank;
    if ((i >= 'A' && i <= 'Z') || (i >= 'a' && i <= 'z') || i == '_' || i == '@' || i == '#' ||
        i >= 0x80) {
      v |= kIdentStart | kIdentPart;
    }
    if (i >= '0' && i <= '9') v |= kDigit | kIdentPart | kHex;
    if (i == '$') v |= kIdentPart;
    if ((i >= 'a' && i <= 'f') || (i >= 'A' && i <= 'F')) v |= kHex;
    c[static_cast<size_t>(i)] = v;
  }
  return c;
}
constexpr std::array<unsigned char, 256> kClasses = MakeClasses();

bool IsIdentStart(unsigned char c) { return kClasses[c] & kIdentStart; }
bool IsIdentPart(unsigned char c) { return kClasses[c] & kIdentPart; }
bool IsDigit(unsigned char c) { return kClasses[c] & kDigit; }
bool IsHexDigit(unsigned char c) { return kClasses[c] & kHex; }
bool IsSqlBlank(unsigned char c) { return kClasses[c] & kBlank; }

[[noreturn]] void Unclosed(std::string_view rest) {
  std::string shown(rest.substr(0, 100));
  throw DbError(105, "Unclosed quotation mark after the character string '" + shown + "'.");
}

// True when position `p` starts a line holding only "GO" (optionally a count
// and a comment), as sqlcmd and SQL Server's tools treat it.
bool IsGoLine(std::string_view s, size_t p, size_t* end) {
  size_t b = p;
  while (b > 0 && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  if (b > 0 && s[b - 1] != '\n' && s[b - 1] != '\r') return false;
  if (p + 2 > s.size() || !common::EqualsNoCase(s.substr(p, 2), "GO")) return false;
  size_t q = p + 2;
  if (q < s.size() && IsIdentPart(static_cast<unsigned char>(s[q]))) return false;
  while (q < s.size() && (s[q] == ' ' || s[q] == '\t')) ++q;
  while (q < s.size() && IsDigit(static_cast<unsigned char>(s[q]))) ++q;
  while (q < s.size() && (s[q] == ' ' || s[q] == '\t')) ++q;
  if (q + 1 < s.size() && s[q] == '-' && s[q + 1] == '-') {
    while (q < s.size() && s[q] != '\n') ++q;
  }
  if (q < s.size() && s[q] != '\n' && s[q] != '\r') return false;
  *end = q;
  return true;
}

}  // namespace

std::vector<Token> Tokenize(std::string_view s) {
  // About one token for every four characters of ordinary statements; a
  // huge literal does not make this reservation huge.
  std::vector<Token> out;
  out.reserve(std::min<size_t>(s.size() / 3 + 8, 4096));
  auto push = [&](TokKind kind, std::string_view text) { out.push_back(Token{kind, text}); };
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (IsSqlBlank(c)) {
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < n && s[i + 1] == '-') {
      while (i < n && s[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      // T-SQL block comments nest.
      int depth = 0;
      size_t j = i;
      while (j < n) {
        if (s[j] == '/' && j + 1 < n && s[j + 1] == '*') {
          ++depth;
          j += 2;
        } else if (s[j] == '*' && j + 1 < n && s[j + 1] == '/') {
          --depth;
          j += 2;
          if (depth == 0) break;
        } else {
          ++j;
        }
      }
      if (depth != 0) throw DbError(113, "Missing end comment mark '*/'.");
      i = j;
      continue;
    }
    const size_t start = i;
    if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < n && s[i + 1] == '\'')) {
      size_t j = (c == '\'') ? i + 1 : i + 2;
      for (;;) {
        const void* q = j < n ? std::memchr(s.data() + j, '\'', n - j) : nullptr;
        if (!q) Unclosed(s.substr(start));
        j = static_cast<size_t>(static_cast<const char*>(q) - s.data());
        if (j + 1 < n && s[j + 1] == '\'') {
          j += 2;
          continue;
        }
        ++j;
        break;
      }
      push(c == '\'' ? TokKind::String : TokKind::NString, s.substr(start, j - start));
      i = j;
      continue;
    }
    if (c == '[' || c == '"') {
      const char close = (c == '[') ? ']' : '"';
      size_t j = i + 1;
      for (;;) {
        if (j >= n) Unclosed(s.substr(start));
        if (s[j] == close) {
          if (j + 1 < n && s[j + 1] == close) {
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        ++j;
      }
      push(TokKind::Quoted, s.substr(start, j - start));
      i = j;
      continue;
    }
    if (c == '0' && i + 1 < n && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
      size_t j = i + 2;
      while (j < n && IsHexDigit(static_cast<unsigned char>(s[j]))) ++j;
      push(TokKind::Hex, s.substr(start, j - start));
      i = j;
      continue;
    }
    if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(static_cast<unsigned char>(s[i + 1])))) {
      size_t j = i;
      while (j < n && IsDigit(static_cast<unsigned char>(s[j]))) ++j;
      if (j < n && s[j] == '.') {
        ++j;
        while (j < n && IsDigit(static_cast<unsigned char>(s[j]))) ++j;
      }
      if (j < n && (s[j] == 'e' || s[j] == 'E')) {
        size_t k = j + 1;
        if (k < n && (s[k] == '+' || s[k] == '-')) ++k;
        if (k < n && IsDigit(static_cast<unsigned char>(s[k]))) {
          while (k < n && IsDigit(static_cast<unsigned char>(s[k]))) ++k;
          j = k;
        }
      }
      push(TokKind::Number, s.substr(start, j - start));
      i = j;
      continue;
    }
    if (IsIdentStart(c)) {
      size_t goEnd = 0;
      if ((c == 'G' || c == 'g') && IsGoLine(s, i, &goEnd)) {
        push(TokKind::Go, s.substr(start, 2));
        i = goEnd;
        continue;
      }
      size_t j = i + 1;
      while (j < n && IsIdentPart(static_cast<unsigned char>(s[j]))) ++j;
      push(TokKind::Word, s.substr(start, j - start));
      i = j;
      continue;
    }
    if (c == '\0') {
      // SQLite reads a statement only up to a NUL: passed on, the rest of the
      // batch would be cut off unseen.
      throw DbError(102, "Incorrect syntax near a NUL character.");
    }
    if (c == ';') {
      push(TokKind::Semi, s.substr(start, 1));
      ++i;
      continue;
    }
    // Two-character operators.
    if (i + 1 < n) {
      const char d = s[i + 1];
      if ((c == '<' && (d == '>' || d == '=')) || (c == '>' && d == '=') ||
          (c == '!' && (d == '=' || d == '<' || d == '>')) || (c == '|' && d == '|')) {
        push(TokKind::Op, s.substr(start, 2));
        i += 2;
        continue;
      }
    }
    push(TokKind::Op, s.substr(start, 1));
    ++i;
  }
  return out;
}

std::string NameOf(const Token& t) {
  if (t.kind != TokKind::Quoted) return std::string(t.text);
  const char close = t.text[0] == '[' ? ']' : '"';
  std::string r;
  std::string_view in = t.text.substr(1, t.text.size() - 2);
  r.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    r.push_back(in[i]);
    if (in[i] == close && i + 1 < in.size() && in[i + 1] == close) ++i;
  }
  return r;
}

std::string StringValue(const Token& t) {
  std::string_view in = t.text;
  in.remove_prefix(t.kind == TokKind::NString ? 2 : 1);
  in.remove_suffix(1);
  std::string r;
  r.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    r.push_back(in[i]);
    if (in[i] == '\'' && i + 1 < in.size() && in[i + 1] == '\'') ++i;
  }
  return r;
}

std::string QuoteName(std::string_view s) {
  std::string r;
  r.reserve(s.size() + 2);
  r.push_back('"');
  for (char c : s) {
    if (c == '"') r.push_back('"');
    r.push_back(c);
  }
  r.push_back('"');
  return r;
}

std::string QuoteText(std::string_view s) { return "'" + db::DoubleQuotes(s) + "'"; }

}  // namespace pv::db::tsql
