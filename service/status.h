// The service's status file and what `pvremote --status` makes of it. The
// running service keeps one flat JSON object in its application-data folder
// ("status.json", replaced atomically); the command reads it back, asks
// whether a process still holds the service's lock, and judges the site:
// healthy, degraded (and why) or not running.
#pragma once

#include <ctime>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace pv::service {

inline constexpr const char* kStatusFileName = "status.json";
inline constexpr const char* kLockFileName = "pvremote.lock";
// A queue row waiting longer than this makes the site degraded.
inline constexpr long kQueueAgeLimitSeconds = 300;

// One flat record: fields in the order they were first set, each text or a
// whole number.
class StatusRecord {
 public:
  void Set(const std::string& name, std::string text);
  void SetNumber(const std::string& name, long long number);
  // "" / 0 when the field is missing.
  std::string Get(const std::string& name) const;
  long long Number(const std::string& name) const;
  bool Has(const std::string& name) const { return Find(name) != nullptr; }

  // One JSON object, one field per line.
  std::string ToJson() const;
  // The object ToJson writes (any flat object of strings, numbers, booleans
  // and nulls); nothing when the text is not one.
  static std::optional<StatusRecord> FromJson(const std::string& text);

 private:
  struct Field {
    std::string name;
    std::string value;
    bool number = false;
  };
  const Field* Find(const std::string& name) const;
  Field& Slot(const std::string& name);
  std::vector<Field> fields_;
};

enum class Health { Healthy = 0, Degraded = 1, NotRunning = 3 };
// The exit status when this user cannot see the service's folder.
inline constexpr int kStatusUnknown = 4;

struct Verdict {
  Health health = Health::NotRunning;
  std::vector<std::string> problems;  // why degraded or not running
};

// Healthy: running, link up, local database open, no queue row waiting
// longer than kQueueAgeLimitSeconds at `now` (epoch seconds).
Verdict Judge(const StatusRecord* status, bool running, std::time_t now);

// The status for a person, one line per subject.
std::string DescribeStatus(const StatusRecord& status, const Verdict& verdict);

// `pvremote --status [--json]`: prints the status of the service whose
// application-data folder `paths` names (or, without PVREMOTE_ROOT and
// STATE_DIRECTORY, the installed service's folder when that one is in use);
// the exit status is the verdict's number, or kStatusUnknown.
int ShowStatus(const platform::Paths& paths, bool json, std::ostream& out, std::ostream& err);

}  // namespace pv::service
