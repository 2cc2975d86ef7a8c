#include "tools/pvcentral/command.h"

#include <cctype>

#include "common/text.h"

namespace pv::central {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<Command> ParseCommand(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::size_t i = 0;
  while (i < line.size() && line[i] == ' ') ++i;
  Command c;
  if (i < line.size() && line[i] == '@') {
    ++i;
    long n = 0;
    const std::size_t digits = i;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) && n < 1000000) {
      n = n * 10 + (line[i] - '0');
      ++i;
    }
    if (i == digits || n == 0 || i >= line.size() || line[i] != ' ') return std::nullopt;
    c.target = static_cast<int>(n);
    while (i < line.size() && line[i] == ' ') ++i;
  }
  const std::size_t verbStart = i;
  while (i < line.size() && line[i] != ' ') ++i;
  if (i == verbStart) return std::nullopt;
  c.verb = common::AsciiLower(line.substr(verbStart, i - verbStart));
  if (i < line.size()) c.arg = std::string(line.substr(i + 1));
  return c;
}

std::optional<std::string> Unescape(std::string_view text, std::string& error,
                                    std::string (*convert)(std::string_view)) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      std::size_t end = text.find('\\', i);
      if (end == std::string_view::npos) end = text.size();
      const std::string_view run = text.substr(i, end - i);
      out += convert != nullptr ? convert(run) : std::string(run);
      i = end - 1;
      continue;
    }
    if (i + 1 >= text.size()) {
      error = "a backslash ends the text (write \\\\ for a backslash)";
      return std::nullopt;
    }
    const char e = text[++i];
    switch (e) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case '\\':
        out += '\\';
        break;
      case 'x': {
        const int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
          error = "\\x needs two hex digits";
          return std::nullopt;
        }
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default:
        error = std::string("unknown escape \\") + e;
        return std::nullopt;
    }
  }
  return out;
}

}  // namespace pv::central
