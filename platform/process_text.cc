#include "platform/process_text.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: shellapi.h relies on its types.
#include <shellapi.h>

#include "platform/utf8_paths.h"
#endif

namespace pv::platform {

std::vector<std::string> Utf8Arguments(int argc, const char* const* argv) {
#ifdef _WIN32
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr) {
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) args.push_back(Utf8FromWide(wide[i]));
    LocalFree(wide);
    return args;
  }
  // Without the wide command line the runtime's arguments are all there is.
#endif
  std::vector<std::string> args;
  for (int i = 0; i < argc && argv != nullptr && argv[i] != nullptr; ++i)
    args.emplace_back(argv[i]);
  return args;
}

void UseUtf8Console() {
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);
#endif
}

std::optional<std::string> AnsiFromUtf8(std::string_view utf8) {
#ifdef _WIN32
  const std::wstring wide = WideFromUtf8(utf8);
  if (wide.empty()) return std::string();
  const int units = static_cast<int>(wide.size());
  const UINT cp = GetACP();
  // The UTF-8 code page takes no replacement character.
  const char* fallback = cp == CP_UTF8 ? nullptr : "?";
  const int n = WideCharToMultiByte(cp, 0, wide.data(), units, nullptr, 0, fallback, nullptr);
  if (n <= 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, wide.data(), units, out.data(), n, fallback, nullptr);
  return out;
#else
  (void)utf8;
  return std::nullopt;
#endif
}

std::optional<std::string> Utf8FromAnsi(std::string_view ansi) {
#ifdef _WIN32
  if (ansi.empty()) return std::string();
  const int size = static_cast<int>(ansi.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, wide.data(), n);
  return Utf8FromWide(wide);
#else
  (void)ansi;
  return std::nullopt;
#endif
}

Utf8Argv::Utf8Argv(int argc, const char* const* argv) : args_(Utf8Arguments(argc, argv)) {
  pointers_.reserve(args_.size() + 1);
  for (std::string& a : args_) pointers_.push_back(a.data());
  pointers_.push_back(nullptr);
}

}  // namespace pv::platform
