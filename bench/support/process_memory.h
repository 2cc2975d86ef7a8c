// The benchmarks' memory readings, from Linux's /proc/self.
#pragma once

#include <fstream>
#include <string>

namespace pv::bench {

// A size field of /proc/self/status ("VmHWM:", the peak resident set since
// the last reset; "VmRSS:", the current one), in MB; -1 when it is missing.
inline double StatusMb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stod(line.substr(field.size())) / 1024.0;
  }
  return -1;
}

// Starts the peak resident set ("VmHWM:") again from the current one.
inline void ResetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace pv::bench
