// Text at the process boundary. Inside the program every string is UTF-8; on
// Windows the C runtime hands main() its arguments in the ANSI code page and
// the console shows output in the OEM code page, so both are set right here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pv::platform {

// The program's arguments as UTF-8, the program name first. Linux: `argv` as
// it is. Windows: the wide command line (argc and argv are not used there).
std::vector<std::string> Utf8Arguments(int argc, const char* const* argv);

// Makes the console show UTF-8 output (Windows); nothing elsewhere.
void UseUtf8Console();

// Text in the machine's ANSI code page (GetACP) from UTF-8 and back, on
// Windows, with '?' for characters the code page lacks. Other systems have
// no such code page: nothing, and the caller keeps its own choice.
std::optional<std::string> AnsiFromUtf8(std::string_view utf8);
std::optional<std::string> Utf8FromAnsi(std::string_view ansi);

// Keeps the strings of Utf8Arguments alive with a char* array, for entry
// points that take argc/argv.
class Utf8Argv {
 public:
  Utf8Argv(int argc, const char* const* argv);
  Utf8Argv(const Utf8Argv&) = delete;
  Utf8Argv& operator=(const Utf8Argv&) = delete;
  int argc() const { return static_cast<int>(pointers_.size()) - 1; }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> args_;
  std::vector<char*> pointers_;
};

}  // namespace pv::platform
