#include "db/tsql/lexer.h"

#include "db/error.h"

namespace pv::db::tsql {
namespace {

bool IsIdentStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '@' || c == '#' ||
         c >= 0x80;
}
bool IsIdentPart(unsigned char c) { return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '$'; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(unsigned char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

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
  if (p + 2 > s.size() || !EqualsNoCase(s.substr(p, 2), "GO")) return false;
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

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::string ToLower(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return r;
}

bool IsWord(const Token& t, std::string_view upperKeyword) {
  return t.kind == TokKind::Word && EqualsNoCase(t.text, upperKeyword);
}

bool IsOp(const Token& t, std::string_view op) { return t.kind == TokKind::Op && t.text == op; }

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> out;
  out.reserve(s.size() / 4 + 4);
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (IsBlank(c)) {
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
        if (j >= n) Unclosed(s.substr(start));
        if (s[j] == '\'') {
          if (j + 1 < n && s[j + 1] == '\'') {
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        ++j;
      }
      out.push_back({c == '\'' ? TokKind::String : TokKind::NString, s.substr(start, j - start)});
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
      out.push_back({TokKind::Quoted, s.substr(start, j - start)});
      i = j;
      continue;
    }
    if (c == '0' && i + 1 < n && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
      size_t j = i + 2;
      while (j < n && IsHexDigit(static_cast<unsigned char>(s[j]))) ++j;
      out.push_back({TokKind::Hex, s.substr(start, j - start)});
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
      out.push_back({TokKind::Number, s.substr(start, j - start)});
      i = j;
      continue;
    }
    if (IsIdentStart(c)) {
      size_t goEnd = 0;
      if ((c == 'G' || c == 'g') && IsGoLine(s, i, &goEnd)) {
        out.push_back({TokKind::Go, s.substr(start, 2)});
        i = goEnd;
        continue;
      }
      size_t j = i + 1;
      while (j < n && IsIdentPart(static_cast<unsigned char>(s[j]))) ++j;
      out.push_back({TokKind::Word, s.substr(start, j - start)});
      i = j;
      continue;
    }
    if (c == ';') {
      out.push_back({TokKind::Semi, s.substr(start, 1)});
      ++i;
      continue;
    }
    // Two-character operators.
    if (i + 1 < n) {
      const char d = s[i + 1];
      if ((c == '<' && (d == '>' || d == '=')) || (c == '>' && d == '=') ||
          (c == '!' && (d == '=' || d == '<' || d == '>')) || (c == '|' && d == '|')) {
        out.push_back({TokKind::Op, s.substr(start, 2)});
        i += 2;
        continue;
      }
    }
    out.push_back({TokKind::Op, s.substr(start, 1)});
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

std::string QuoteText(std::string_view s) {
  std::string r;
  r.reserve(s.size() + 2);
  r.push_back('\'');
  for (char c : s) {
    if (c == '\'') r.push_back('\'');
    r.push_back(c);
  }
  r.push_back('\'');
  return r;
}

}  // namespace pv::db::tsql
