// The password prompt of -U without -P.
#pragma once

#include <optional>
#include <string>

namespace pv::pvsql {

// Asks for the password on the terminal, with "Password: " on standard error
// and the typed characters not shown. Nothing when standard input is not a
// terminal (a script or a pipe: nobody could answer).
std::optional<std::string> AskPassword();

}  // namespace pv::pvsql
