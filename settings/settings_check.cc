#include "settings/settings_check.h"

#include <algorithm>
#include <filesystem>
#include <iterator>

#include "common/text.h"
#include "settings/reg_file.h"
#include "settings/service_settings.h"

namespace pv::settings {

namespace {

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string ValueOrDefault(const RegistryStore& store, const std::string& name,
                           const std::string& fallback) {
  const std::string value(common::TrimSpaces(store.GetRegValue(name)));
  return value.empty() ? fallback + " (default)" : value;
}

}  // namespace

const std::vector<std::string>& KnownSettingNames() {
  static const std::vector<std::string> names{
      "sqlUID",          "sqlPWDq",           "sqlPWD",          "sqlPort",
      "sqlDriver",       "centralHost",       "centralPort",     "appFolder",
      "sqlLoginTimeout", "sqlCommandTimeout", "uploadBatchRows", "logKeepDays"};
  return names;
}

std::string ClosestSettingName(const std::string& name) {
  std::string best;
  std::size_t bestDistance = 3;
  for (const std::string& known : KnownSettingNames()) {
    const std::size_t d = EditDistance(common::AsciiLower(name), common::AsciiLower(known));
    if (d < bestDistance) {
      bestDistance = d;
      best = known;
    }
  }
  return best;
}

SettingsCheck CheckSettings(const RegistryStore& store) {
  SettingsCheck check;
  const std::string section = std::string("HKEY_LOCAL_MACHINE\\") + kPortaventoKey;
  if (store.UsesSystemRegistry()) {
    check.source = "registry key " + section;
  } else {
    const std::string path = store.FileFor("");
    check.source = path;
    std::string problem;
    const auto file = store.File("", &problem);
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
      check.warnings.push_back("settings file " + path +
                               " does not exist: every setting takes its default (see "
                               "\"Running a site\" in the README for a complete file)");
    } else if (!file) {
      check.warnings.push_back(problem);
    } else if (file->looksLikeBomlessUtf16()) {
      check.warnings.push_back("settings file " + path +
                               " looks like UTF-16 without a byte-order mark and cannot be read: "
                               "save it as UTF-8 (or UTF-16 with a byte-order mark)");
    } else {
      auto names = file->ValueNames(section);
      if (!names) {
        names = file->ValueNames("HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\" +
                                 std::string(kPortaventoKey).substr(9));
      }
      if (!names) {
        check.warnings.push_back("settings file " + path + " has no section [" + section +
                                 "]: every setting takes its default");
      } else {
        for (const std::string& name : *names) {
          const bool known = std::any_of(KnownSettingNames().begin(), KnownSettingNames().end(),
                                         [&](const std::string& k) { return SameName(k, name); });
          if (known || name.empty()) continue;
          const std::string closest = ClosestSettingName(name);
          check.warnings.push_back("settings file " + path + ": unknown value name \"" + name +
                                   "\", ignored" +
                                   (closest.empty() ? "" : " (did you mean \"" + closest + "\"?)"));
        }
      }
    }
  }

  const ServiceSettings s = ServiceSettings::Read(store);
  const bool pwdq = !s.sqlPWDq.empty();
  std::string password = "not set";
  if (pwdq) {
    password = s.sqlPassword ? "set (sqlPWDq)" : "set (sqlPWDq), does not decode";
  } else if (s.sqlPassword && !s.sqlPassword->empty()) {
    password = "set (sqlPWD)";
  }
  if (pwdq && !s.sqlPassword) {
    check.warnings.push_back(
        "sqlPWDq does not decode (groups of three digits, each 0-255): the "
        "local database cannot be opened");
  }
  check.values = {{"sqlDriver", s.sqlDriver},
                  {"sqlUID", s.sqlUID},
                  {"password", password},
                  {"sqlPort", s.sqlPort},
                  {"centralHost", s.centralHost},
                  {"centralPort", s.centralPort},
                  {"sqlLoginTimeout", ValueOrDefault(store, "sqlLoginTimeout", "15")},
                  {"sqlCommandTimeout", ValueOrDefault(store, "sqlCommandTimeout", "30")},
                  {"uploadBatchRows", ValueOrDefault(store, "uploadBatchRows", "500")},
                  {"logKeepDays", ValueOrDefault(store, "logKeepDays", "0")}};
  return check;
}

}  // namespace pv::settings
