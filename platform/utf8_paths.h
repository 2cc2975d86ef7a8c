// Paths are UTF-8 std::string throughout the program. These routines carry
// them across to std::filesystem::path and, on Windows, to the wide strings
// the operating system takes, so that names outside ASCII survive (on Windows
// a path built from a plain char string would be read in the ANSI code page).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace pv::platform {

// The path named by UTF-8 text.
std::filesystem::path PathFromUtf8(std::string_view utf8);
// The path as UTF-8 text (native separators kept).
std::string Utf8FromPath(const std::filesystem::path& path);

// `path` without trailing separators, so that "folder/" names the folder
// itself; "/" (and on Windows "C:\\") stays the root.
std::string WithoutTrailingSeparators(std::string path);

#ifdef _WIN32
// UTF-8 to UTF-16 and back; invalid sequences become U+FFFD.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);
#endif

}  // namespace pv::platform
