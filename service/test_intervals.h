// Shortened timer intervals for test runs of pvremote. A debug run (never a
// run under systemd) reads PVREMOTE_TEST_INTERVALS="startLoad,sqlConnection,
// socket,updateQueue" in milliseconds; an empty field keeps its default, e.g.
// ",,,200" makes only the update queue tick every 200 ms.
#pragma once

#include <optional>
#include <string_view>

#include "service/service_host.h"

namespace pv::service {

inline constexpr char kTestIntervalsVariable[] = "PVREMOTE_TEST_INTERVALS";

// The intervals the text gives over the defaults; nullopt when it is not four
// comma-separated fields, each empty or a whole number from 1 to 86400000.
std::optional<HostIntervals> ParseTestIntervals(std::string_view text);

// The defaults, or those of PVREMOTE_TEST_INTERVALS when `debugRun` and the
// variable is set and valid (an invalid value is reported on stderr and
// ignored).
HostIntervals IntervalsForRun(bool debugRun);

}  // namespace pv::service
