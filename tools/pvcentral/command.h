// One operator command as typed on stdin or passed with --control.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pv::central {

struct Command {
  int target = 0;    // "@N" prefix: connection N only; 0 = every connection
  std::string verb;  // lower-case
  std::string arg;   // the rest of the line after the blank that ends the verb
};

// Splits "[@N] verb [arg]"; a trailing carriage return is dropped. Returns
// nothing for an empty line or a malformed "@" prefix.
std::optional<Command> ParseCommand(std::string_view line);

// Turns \n \r \t \\ and \xHH into the bytes they stand for. With `convert`,
// the text between escapes is passed through it (UTF-8 to wire bytes) while
// \xHH stays the very byte HH. Returns nothing (and sets `error`) for an
// unknown or incomplete escape.
std::optional<std::string> Unescape(std::string_view text, std::string& error,
                                    std::string (*convert)(std::string_view) = nullptr);

}  // namespace pv::central
