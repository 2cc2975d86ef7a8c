#include "tools/pvsql/terminal.h"

#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace pv::pvsql {
namespace {

// Turns the echo of typed characters off for as long as it lives.
class EchoOff {
 public:
#ifdef _WIN32
  EchoOff() : input_(GetStdHandle(STD_INPUT_HANDLE)) {
    changed_ = GetConsoleMode(input_, &saved_) != 0 &&
               SetConsoleMode(input_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) != 0;
  }
  ~EchoOff() {
    if (changed_) SetConsoleMode(input_, saved_);
  }

 private:
  HANDLE input_;
  DWORD saved_ = 0;
#else
  EchoOff() {
    if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    changed_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    // What was typed after the password stays: it may be the script.
    if (changed_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }

 private:
  termios saved_{};
#endif
  bool changed_ = false;

 public:
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
};

bool StdinIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

}  // namespace

std::optional<std::string> AskPassword() {
  if (!StdinIsTerminal()) return std::nullopt;
  std::string password;
  {
    // Echo goes off before the prompt shows: nothing typed after it is seen.
    EchoOff quiet;
    std::cerr << "Password: " << std::flush;
    std::getline(std::cin, password);
  }
#ifdef _WIN32
  // The console does not end the hidden line itself.
  std::cerr << "\n";
#endif
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return password;
}

}  // namespace pv::pvsql
