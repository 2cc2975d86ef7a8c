// The program's command line: which one-shot job it asks for, or the service
// run itself.
#pragma once

#include <string>

namespace pv::service {

enum class Switch {
  StopService,   // "/c": blanks trimmed and lower-cased before comparing
  Install,       // "/i", exactly
  Uninstall,     // "/u", exactly
  StartService,  // "/ss", exactly
  Run,           // empty command line
  Status,        // "--status"
  StatusJson,    // "--status --json" (either order)
  Check,         // "--check"
  Version,       // "--version"
  Help,          // "--help", "-h", "/?"
  Unknown,       // anything else: exit at once
};

// The command line as one text: the arguments after the program name joined
// by single blanks. An argument list that is given but empty ("") is not the
// empty command line: it reads as a pair of quotes.
std::string CommandLineText(int argc, const char* const* argv);

Switch ParseCommandLine(const std::string& line);

// What `pvremote --help` prints.
std::string HelpText();

}  // namespace pv::service
