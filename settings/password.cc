#include "settings/password.h"

#include "common/cp1252.h"
#include "platform/process_text.h"

namespace pv::settings {

std::string EncodePassword(const std::string& plain) {
  // The machine's ANSI code page on Windows, Windows-1252 elsewhere.
  std::string bytes = platform::AnsiFromUtf8(plain).value_or(common::Utf8ToCp1252(plain));
  std::string encoded;
  encoded.reserve(bytes.size() * 3);
  for (char c : bytes) {
    auto code = static_cast<unsigned char>(c);
    encoded += static_cast<char>('0' + code / 100);
    encoded += static_cast<char>('0' + code / 10 % 10);
    encoded += static_cast<char>('0' + code % 10);
  }
  return encoded;
}

std::optional<std::string> DecodePassword(const std::string& encoded) {
  std::string bytes;
  for (std::size_t i = 0; i < encoded.size(); i += 3) {
    std::string group = encoded.substr(i, 3);
    int code = 0;
    for (char c : group) {
      if (c < '0' || c > '9') return std::nullopt;
      code = code * 10 + (c - '0');
    }
    if (code > 255) return std::nullopt;
    bytes += static_cast<char>(code);
  }
  if (auto text = platform::Utf8FromAnsi(bytes)) return *text;
  return common::Cp1252ToUtf8(bytes);
}

}  // namespace pv::settings
