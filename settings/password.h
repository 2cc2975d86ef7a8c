// The reversible password encoding of the "sqlPWDq" setting: each character
// as its code in the machine's ANSI code page (Windows; Windows-1252 on other
// systems) in three decimal digits ("abc" -> "097098099").
#pragma once

#include <optional>
#include <string>

namespace pv::settings {

// `plain` is UTF-8; characters outside the code page become '?'.
std::string EncodePassword(const std::string& plain);

// The UTF-8 password, or nothing when a group is not a number from 0 to 255.
// A shorter last group (one or two digits) is read as it stands.
std::optional<std::string> DecodePassword(const std::string& encoded);

}  // namespace pv::settings
