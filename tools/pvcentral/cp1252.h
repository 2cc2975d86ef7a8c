// Windows-1252 on the wire, UTF-8 inside: the simulator converts every
// message at the socket boundary, as the service does on its side.
#pragma once

#include <string>
#include <string_view>

namespace pv::central {

// Every byte maps to one character. The five bytes Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control characters with
// the same number, so the conversion never fails and round-trips.
std::string Cp1252ToUtf8(std::string_view bytes);

// Characters outside Windows-1252 and malformed UTF-8 sequences become '?'.
std::string Utf8ToCp1252(std::string_view text);

}  // namespace pv::central
