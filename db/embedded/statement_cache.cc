#include "db/embedded/statement_cache.h"

#include <cerrno>
#include <cstdlib>

namespace pv::db::embedded {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || IsDigit(c) || u == '_' || u == '$' ||
         u >= 0x80;
}

bool SameWord(std::string_view word, std::string_view upper) {
  if (word.size() != upper.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k) {
    char c = word[k];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c != upper[k]) return false;
  }
  return true;
}

int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Index after the blanks and comments from i; npos for an unterminated
// comment.
std::size_t SkipBlanks(std::string_view s, std::size_t i) {
  while (i < s.size()) {
    const char c = s[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
      ++i;
    } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      const std::size_t nl = s.find('\n', i);
      i = nl == std::string_view::npos ? s.size() : nl + 1;
    } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      const std::size_t end = s.find("*/", i + 2);
      if (end == std::string_view::npos) return std::string_view::npos;
      i = end + 2;
    } else {
      break;
    }
  }
  return i;
}

// Words after which a position list (ORDER BY, GROUP BY) has ended.
bool EndsPositionList(std::string_view word) {
  for (std::string_view w : {"LIMIT", "OFFSET", "HAVING", "WINDOW", "UNION", "EXCEPT", "INTERSECT",
                             "SELECT", "FROM", "WHERE", "SET", "VALUES", "ON", "RETURNING"}) {
    if (SameWord(word, w)) return true;
  }
  return false;
}

}  // namespace

std::optional<Parameterized> Parameterize(std::string_view sql, bool query) {
  std::size_t i = SkipBlanks(sql, 0);
  if (i == std::string_view::npos) return std::nullopt;
  std::size_t w = i;
  while (w < sql.size() && IsWordChar(sql[w])) ++w;
  const std::string_view first = sql.substr(i, w - i);
  if (query ? !SameWord(first, "SELECT")
            : !SameWord(first, "INSERT") && !SameWord(first, "UPDATE") &&
                  !SameWord(first, "DELETE")) {
    return std::nullopt;
  }

  Parameterized out;
  out.text.reserve(sql.size());
  out.text.append(sql.substr(0, i));
  enum class Prev { Other, By, Comma } prev = Prev::Other;
  int depth = 0;
  int byDepth = -1;  // depth of the ORDER BY / GROUP BY list being read
  while (i < sql.size()) {
    const char c = sql[i];
    const std::size_t after = SkipBlanks(sql, i);
    if (after == std::string_view::npos) return std::nullopt;
    if (after != i) {  // blanks and comments as they stand
      out.text.append(sql.substr(i, after - i));
      i = after;
      continue;
    }
    if (c == '\'') {
      std::string text;
      std::size_t k = i + 1;
      for (;;) {
        const std::size_t quote = sql.find('\'', k);
        if (quote == std::string_view::npos) return std::nullopt;
        text.append(sql.substr(k, quote - k));
        if (quote + 1 < sql.size() && sql[quote + 1] == '\'') {
          text += '\'';
          k = quote + 2;
          continue;
        }
        k = quote;
        break;
      }
      out.values.push_back({Literal::Kind::Text, 0, 0, std::move(text)});
      out.text += '?';
      i = k + 1;
      prev = Prev::Other;
    } else if (c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      std::size_t k = i + 1;
      for (;;) {
        if (k >= sql.size()) return std::nullopt;
        if (sql[k] == close) {
          if (close != ']' && k + 1 < sql.size() && sql[k + 1] == close) {
            k += 2;
            continue;
          }
          break;
        }
        ++k;
      }
      out.text.append(sql.substr(i, k + 1 - i));
      i = k + 1;
      prev = Prev::Other;
    } else if (IsDigit(c) || (c == '.' && i + 1 < sql.size() && IsDigit(sql[i + 1]))) {
      std::size_t k = i;
      bool real = false;
      if (c == '0' && i + 1 < sql.size() && (sql[i + 1] == 'x' || sql[i + 1] == 'X')) {
        k = i + 2;
        while (k < sql.size() && HexValue(sql[k]) >= 0) ++k;
        out.text.append(sql.substr(i, k - i));  // hexadecimal: left as written
        i = k;
        prev = Prev::Other;
        continue;
      }
      while (k < sql.size() && (IsDigit(sql[k]) || sql[k] == '.')) {
        real = real || sql[k] == '.';
        ++k;
      }
      if (k < sql.size() && (sql[k] == 'e' || sql[k] == 'E')) {
        std::size_t e = k + 1;
        if (e < sql.size() && (sql[e] == '+' || sql[e] == '-')) ++e;
        if (e < sql.size() && IsDigit(sql[e])) {
          real = true;
          k = e;
          while (k < sql.size() && IsDigit(sql[k])) ++k;
        }
      }
      if (k < sql.size() && IsWordChar(sql[k])) return std::nullopt;
      const std::string number(sql.substr(i, k - i));
      const bool position = prev == Prev::By || (prev == Prev::Comma && byDepth == depth);
      bool kept = position;
      if (!kept) {
        errno = 0;
        char* end = nullptr;
        if (real) {
          const double v = std::strtod(number.c_str(), &end);
          kept = end != number.c_str() + number.size();
          if (!kept) out.values.push_back({Literal::Kind::Real, 0, v, {}});
        } else {
          const long long v = std::strtoll(number.c_str(), &end, 10);
          // Beyond 64 bits SQLite reads the literal as a real: left as written.
          kept = errno == ERANGE || end != number.c_str() + number.size();
          if (!kept) out.values.push_back({Literal::Kind::Integer, v, 0, {}});
        }
      }
      if (kept) {
        out.text += number;
      } else {
        out.text += '?';
      }
      i = k;
      prev = Prev::Other;
    } else if (IsWordChar(c)) {
      std::size_t k = i;
      while (k < sql.size() && IsWordChar(sql[k])) ++k;
      const std::string_view word = sql.substr(i, k - i);
      if ((word == "X" || word == "x") && k < sql.size() && sql[k] == '\'') {
        const std::size_t close = sql.find('\'', k + 1);
        if (close == std::string_view::npos || (close - k - 1) % 2 != 0) return std::nullopt;
        std::string bytes;
        bytes.reserve((close - k - 1) / 2);
        for (std::size_t h = k + 1; h < close; h += 2) {
          const int hi = HexValue(sql[h]);
          const int lo = HexValue(sql[h + 1]);
          if (hi < 0 || lo < 0) return std::nullopt;
          bytes += static_cast<char>(hi * 16 + lo);
        }
        out.values.push_back({Literal::Kind::Blob, 0, 0, std::move(bytes)});
        out.text += '?';
        i = close + 1;
        prev = Prev::Other;
        continue;
      }
      if (c == '$') return std::nullopt;  // a parameter already
      out.text.append(word);
      if (SameWord(word, "BY")) {
        prev = Prev::By;
        byDepth = depth;
      } else {
        if (byDepth >= 0 && EndsPositionList(word)) byDepth = -1;
        prev = Prev::Other;
      }
      i = k;
    } else if (c == '?' || c == ':' || c == '@') {
      return std::nullopt;  // the statement has parameters of its own
    } else if (c == ';') {
      const std::size_t rest = SkipBlanks(sql, i + 1);
      if (rest != sql.size()) return std::nullopt;  // more than one statement
      out.text.append(sql.substr(i));
      i = sql.size();
    } else {
      if (c == '(') {
        ++depth;
      } else if (c == ')') {
        --depth;
        if (depth < byDepth) byDepth = -1;
      }
      out.text += c;
      ++i;
      prev = c == ',' ? Prev::Comma : Prev::Other;
    }
  }
  if (out.values.empty()) return std::nullopt;
  return out;
}

int BindAll(sqlite3_stmt* st, const std::vector<Literal>& values, bool copy) {
  const sqlite3_destructor_type keep = copy ? SQLITE_TRANSIENT : SQLITE_STATIC;
  int n = 0;
  for (const Literal& v : values) {
    ++n;
    int rc = SQLITE_OK;
    switch (v.kind) {
      case Literal::Kind::Integer:
        rc = sqlite3_bind_int64(st, n, v.integer);
        break;
      case Literal::Kind::Real:
        rc = sqlite3_bind_double(st, n, v.real);
        break;
      case Literal::Kind::Text:
        rc = sqlite3_bind_text64(st, n, v.bytes.data(), v.bytes.size(), keep, SQLITE_UTF8);
        break;
      case Literal::Kind::Blob:
        rc = sqlite3_bind_blob64(st, n, v.bytes.data(), v.bytes.size(), keep);
        break;
    }
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

sqlite3_stmt* StatementCache::Find(const std::string& text) {
  const auto it = statements_.find(text);
  return it == statements_.end() ? nullptr : it->second.get();
}

// The entry stays, empty, so that keeping the statement again allocates
// nothing.
StatementPtr StatementCache::Take(const std::string& text) {
  const auto it = statements_.find(text);
  if (it == statements_.end()) return nullptr;
  return std::move(it->second);
}

sqlite3_stmt* StatementCache::Keep(const std::string& text, StatementPtr st) {
  if (statements_.size() >= kCapacity) statements_.clear();
  sqlite3_stmt* raw = st.get();
  statements_[text] = std::move(st);
  return raw;
}

}  // namespace pv::db::embedded
