#include "platform/utf8_paths.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <climits>

namespace pv::platform {

#ifdef _WIN32

std::wstring WideFromUtf8(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int in = static_cast<int>(utf8.size());
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), in, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), in, wide.data(), n);
  return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int in = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), in, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), in, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(WideFromUtf8(utf8));
}

std::string Utf8FromPath(const std::filesystem::path& path) { return Utf8FromWide(path.native()); }

#else

std::filesystem::path PathFromUtf8(std::string_view utf8) { return std::filesystem::path(utf8); }

std::string Utf8FromPath(const std::filesystem::path& path) { return path.native(); }

#endif

std::string WithoutTrailingSeparators(std::string path) {
#ifdef _WIN32
  // "folder\" as well; "C:\" stays the root of the drive.
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\') &&
         path[path.size() - 2] != ':') {
    path.pop_back();
  }
#else
  while (path.size() > 1 && path.back() == '/') path.pop_back();
#endif
  return path;
}

}  // namespace pv::platform
