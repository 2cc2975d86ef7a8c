// UTF-8 <-> UTF-16 conversion for the wide ODBC calls. Text is UTF-8 inside
// the program; the driver manager speaks UTF-16 (SQLWCHAR).
#pragma once

#include <string>
#include <string_view>

namespace pv::db::odbc {

// Malformed input never fails: every byte (or unpaired surrogate) that does
// not form a valid character becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace pv::db::odbc
