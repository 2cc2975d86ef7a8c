// The text vocabulary every layer shares: ASCII case folding and comparison
// (letter case of SQL words, setting names, command words; bytes outside
// A-Z/a-z are left as they are, so UTF-8 text passes through unchanged),
// blank trimming, and the field separator of the central server's messages.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace pv::common {

inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

inline std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

// Equal but for the case of ASCII letters.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Space, tab, CR and LF.
inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// `text` without leading and trailing blanks.
inline std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// An optionally signed decimal integer with nothing else but blanks around
// it; nullopt for anything else or out of range.
inline std::optional<std::int64_t> ParseInteger(std::string_view text) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  std::int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

// `text` without leading and trailing spaces (only the space character:
// settings values and switches keep their tabs and line breaks).
inline std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// "§" (U+00A7) in UTF-8: the separator of the fields of the central server's
// orders ("DBIN", "UPDA") and of the service's notices ("SDWE 42§15").
inline constexpr std::string_view kFieldSeparator = "\xC2\xA7";

// The fields of `text` between separators; one field (the whole text) when
// there is none.
inline std::vector<std::string> SplitFields(std::string_view text) {
  std::vector<std::string> fields;
  for (;;) {
    const std::size_t at = text.find(kFieldSeparator);
    if (at == std::string_view::npos) {
      fields.emplace_back(text);
      return fields;
    }
    fields.emplace_back(text.substr(0, at));
    text.remove_prefix(at + kFieldSeparator.size());
  }
}

}  // namespace pv::common
