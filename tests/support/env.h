// Environment variables set for one test and put back as they were when the
// guard goes (set again, or removed when they were not set).
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace pv::testing {

class EnvGuard {
 public:
  EnvGuard() = default;
  EnvGuard(const std::string& name, const std::string& value) { Set(name, value.c_str()); }
  ~EnvGuard() {
    for (auto& [name, value] : saved_) Put(name, value ? value->c_str() : nullptr);
  }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

  // Sets `name` to `value`; nullptr removes it.
  void Set(const std::string& name, const char* value) {
    const char* old = std::getenv(name.c_str());
    saved_.try_emplace(name, old ? std::optional<std::string>(old) : std::nullopt);
    Put(name, value);
  }

 private:
  static void Put(const std::string& name, const char* value) {
    value ? ::setenv(name.c_str(), value, 1) : ::unsetenv(name.c_str());
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace pv::testing
