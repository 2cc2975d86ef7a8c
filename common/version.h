// The version the programs introduce themselves with (--version): the
// project's version from the build and the git commit it was built from when
// the build knew it.
#pragma once

#include <string>

namespace pv::common {

// "1.0.0", or "1.0.0 (git 0123456789ab)".
std::string VersionText();
// "<program> <VersionText()>".
std::string VersionLine(const std::string& program);

}  // namespace pv::common
