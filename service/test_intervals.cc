#include "service/test_intervals.h"

#include <charconv>
#include <cstdlib>
#include <iostream>
#include <string>

namespace pv::service {

std::optional<HostIntervals> ParseTestIntervals(std::string_view text) {
  HostIntervals intervals;
  std::chrono::milliseconds* fields[] = {&intervals.startLoad, &intervals.sqlConnection,
                                         &intervals.socket, &intervals.updateQueue};
  std::size_t index = 0;
  for (;;) {
    if (index >= 4) return std::nullopt;
    const std::size_t comma = text.find(',');
    const std::string_view field = text.substr(0, comma);
    if (!field.empty()) {
      long long ms = 0;
      const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), ms);
      if (ec != std::errc() || end != field.data() + field.size() || ms < 1 || ms > 86400000)
        return std::nullopt;
      *fields[index] = std::chrono::milliseconds(ms);
    }
    ++index;
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (index != 4) return std::nullopt;
  return intervals;
}

HostIntervals IntervalsForRun(bool debugRun) {
  if (!debugRun) return {};
  const char* value = std::getenv(kTestIntervalsVariable);
  if (value == nullptr) return {};
  if (auto parsed = ParseTestIntervals(value)) return *parsed;
  std::cerr << "pvremote: " << kTestIntervalsVariable << "=\"" << value
            << "\" ignored: four comma-separated millisecond values expected\n";
  return {};
}

}  // namespace pv::service
