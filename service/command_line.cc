#include "service/command_line.h"

#include <cctype>

namespace pv::service {

namespace {

std::string TrimBlanks(const std::string& s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string CommandLineText(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i] != nullptr ? argv[i] : "";
  }
  if (argc > 1 && line.empty()) line = "\"\"";
  return line;
}

Switch ParseCommandLine(const std::string& line) {
  if (Lower(TrimBlanks(line)) == "/c") return Switch::StopService;
  if (line == "/i") return Switch::Install;
  if (line == "/u") return Switch::Uninstall;
  if (line == "/ss") return Switch::StartService;
  if (line.empty()) return Switch::Run;
  return Switch::Unknown;
}

}  // namespace pv::service
