// The settings as an operator should see them at start and in `pvremote
// --check`: where they were read, the values in effect (passwords only as
// "set" or "not set"), and what in the file is likely a mistake: a missing
// file or section, a value name the service does not know (a typo such as
// "sqlPW"), a file in UTF-16 without its byte-order mark, a password that
// does not decode.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "settings/registry_store.h"

namespace pv::settings {

struct SettingsCheck {
  // "/etc/pvremote/machine.reg" or the registry key.
  std::string source;
  // Name and value in effect, in a fixed order.
  std::vector<std::pair<std::string, std::string>> values;
  // One sentence each, with what to do about it.
  std::vector<std::string> warnings;
};

// Every value name the service reads or keeps in its key.
const std::vector<std::string>& KnownSettingNames();

SettingsCheck CheckSettings(const RegistryStore& store);

// "sqlPWD" for "sqlPW": the known name closest to `name` (at most two edits
// apart, case ignored); "" when none is.
std::string ClosestSettingName(const std::string& name);

}  // namespace pv::settings
