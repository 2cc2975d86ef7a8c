#include "settings/service_settings.h"

#include <strings.h>

#include "common/text.h"
#include "settings/password.h"

namespace pv::settings {

namespace {

// Spaces removed from both ends.
std::string TrimBlanks(const std::string& text) { return std::string(common::TrimSpaces(text)); }

}  // namespace

bool ServiceSettings::embedded() const { return strcasecmp(sqlDriver.c_str(), "embedded") == 0; }

ServiceSettings ServiceSettings::Read(const RegistryStore& store) {
  ServiceSettings s;
  auto orDefault = [](std::string value, const std::string& fallback) {
    return value.empty() ? fallback : value;
  };
  s.sqlUID = orDefault(store.GetRegValue("sqlUID"), s.sqlUID);
  s.sqlPWDq = TrimBlanks(store.GetRegValue("sqlPWDq"));
  if (!s.sqlPWDq.empty()) {
    s.sqlPassword = DecodePassword(s.sqlPWDq);
  } else {
    s.sqlPassword = TrimBlanks(store.GetRegValue("sqlPWD"));
  }
  s.sqlPort = orDefault(store.GetRegValue("sqlPort"), s.sqlPort);
  s.appFolder = store.GetRegValue("appFolder");
  s.centralHost = orDefault(TrimBlanks(store.GetRegValue("centralHost")), s.centralHost);
  s.centralPort = orDefault(TrimBlanks(store.GetRegValue("centralPort")), s.centralPort);
  s.sqlDriver = orDefault(TrimBlanks(store.GetRegValue("sqlDriver")), s.sqlDriver);
  const std::string keep = TrimBlanks(store.GetRegValue("logKeepDays"));
  if (!keep.empty() && keep.size() <= 6 &&
      keep.find_first_not_of("0123456789") == std::string::npos) {
    s.logKeepDays = std::stoi(keep);
  }
  return s;
}

}  // namespace pv::settings
