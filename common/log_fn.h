// The one shape of a log line handed down to the layers that report
// failures without owning the daily log: the routine or message, the error
// number (0 for none) and the description.
#pragma once

#include <functional>
#include <string>

namespace pv::common {

using LogFn =
    std::function<void(const std::string& message, long number, const std::string& detail)>;

}  // namespace pv::common
