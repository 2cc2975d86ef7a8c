// Text placed between single quotes in a statement.
#pragma once

#include <string>
#include <string_view>

namespace pv::db {

// `text` with every single quote doubled, so that a quote in a value can
// neither end the literal early nor add SQL of its own.
inline std::string DoubleQuotes(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

}  // namespace pv::db
