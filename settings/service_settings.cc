#include "settings/service_settings.h"

#include <strings.h>

#include "common/text.h"
#include "settings/password.h"

namespace pv::settings {

namespace {

// Spaces removed from both ends.
std::string TrimBlanks(const std::string& text) { return std::string(common::TrimSpaces(text)); }

// A whole number from 0 to 65535, blanks around it allowed; `fallback` for
// anything else (missing and empty included).
int Count(const std::string& text, int fallback) {
  const auto n = common::ParseInteger(text);
  return n && *n >= 0 && *n <= 65535 ? static_cast<int>(*n) : fallback;
}

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
  s.sqlLoginTimeout = Count(store.GetRegValue("sqlLoginTimeout"), s.sqlLoginTimeout);
  s.sqlCommandTimeout = Count(store.GetRegValue("sqlCommandTimeout"), s.sqlCommandTimeout);
  s.uploadBatchRows = Count(store.GetRegValue("uploadBatchRows"), s.uploadBatchRows);
  s.logKeepDays = Count(store.GetRegValue("logKeepDays"), s.logKeepDays);
  return s;
}

}  // namespace pv::settings
