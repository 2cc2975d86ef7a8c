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

Utf8Argv::Utf8Argv(int argc, const char* const* argv) : args_(Utf8Arguments(argc, argv)) {
  pointers_.reserve(args_.size() + 1);
  for (std::string& a : args_) pointers_.push_back(a.data());
  pointers_.push_back(nullptr);
}

}  // namespace pv::platform
