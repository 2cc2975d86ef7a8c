// Conversion between the program's UTF-8 text and the single-byte
// Windows-1252 text of the server link and of old settings exports.
#pragma once

#include <string>
#include <string_view>

namespace pv::common {

// Characters outside Windows-1252 become '?'; each byte of an invalid UTF-8
// sequence becomes '?'.
std::string Utf8ToCp1252(std::string_view utf8);
void AppendUtf8AsCp1252(std::string_view utf8, std::string& out);

// Every byte maps to one character (the five bytes Windows-1252 leaves
// undefined map to the control characters of the same number).
std::string Cp1252ToUtf8(std::string_view bytes);
void AppendCp1252AsUtf8(std::string_view bytes, std::string& out);

// True when `text` is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

}  // namespace pv::common
