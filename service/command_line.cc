#include "service/command_line.h"

#include "common/text.h"

namespace pv::service {

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
  if (common::AsciiLower(common::TrimSpaces(line)) == "/c") return Switch::StopService;
  if (line == "/i") return Switch::Install;
  if (line == "/u") return Switch::Uninstall;
  if (line == "/ss") return Switch::StartService;
  if (line.empty()) return Switch::Run;
  return Switch::Unknown;
}

}  // namespace pv::service
