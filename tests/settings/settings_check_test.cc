#include "settings/settings_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace pv::settings {
namespace {

// What the start of the service and `pvremote --check` say about a machine
// settings file.
TEST(SettingsCheck, EachLikelyMistakeIsNamedAndPasswordsShowOnlyAsSet) {
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string section = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillonworks Inc.\\Portavento]\r\n";
  std::string utf16;
  for (const char c : header + section + "\"sqlUID\"=\"sa\"\r\n") utf16 += std::string{c, '\0'};
  struct Case {
    const char* what;
    std::optional<std::string> file;    // nothing: no file
    std::vector<std::string> warnings;  // parts of each warning, in order
    std::string password;
  };
  const std::vector<Case> cases{
      {"no file", std::nullopt, {"does not exist: every setting takes its default"}, "not set"},
      {"no section",
       header + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"sqlUID\"=\"x\"\r\n",
       {"has no section [HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillonworks Inc.\\Portavento]"},
       "not set"},
      {"UTF-16 without a byte-order mark",
       utf16,
       {"looks like UTF-16 without a byte-order mark"},
       "not set"},
      {"typos",
       header + section + "\"sqlPW\"=\"secret\"\r\n\"centralhst\"=\"x\"\r\n\"zzz\"=\"1\"\r\n",
       {"unknown value name \"sqlPW\", ignored (did you mean \"sqlPWD\"?)",
        "unknown value name \"centralhst\", ignored (did you mean \"centralHost\"?)",
        "unknown value name \"zzz\", ignored"},
       "not set"},
      {"every known name",
       header + section +
           "\"SQLPWD\"=\"secret\"\r\n\"sqlLoginTimeout\"=\"20\"\r\n"
           "\"sqlCommandTimeout\"=\"\"\r\n\"appFolder\"=\"/x/\"\r\n"
           "\"logKeepDays\"=\"30\"\r\n\"sqlDriver\"=\"embedded\"\r\n",
       {},
       "set (sqlPWD)"},
      {"undecodable sqlPWDq",
       header + section + "\"sqlPWDq\"=\"999\"\r\n",
       {"sqlPWDq does not decode"},
       "set (sqlPWDq), does not decode"},
  };
  for (const Case& c : cases) {
    pv::testing::TempDir root;
    const auto paths = platform::Paths::UnderRoot(root.path());
    if (c.file) pv::testing::WriteFile(paths.MachineStore(), *c.file);
    const SettingsCheck check = CheckSettings(RegistryStore(paths));
    EXPECT_EQ(check.source, paths.MachineStore()) << c.what;
    ASSERT_EQ(check.warnings.size(), c.warnings.size()) << c.what;
    for (std::size_t i = 0; i < c.warnings.size(); ++i) {
      EXPECT_NE(check.warnings[i].find(c.warnings[i]), std::string::npos)
          << c.what << ": " << check.warnings[i];
    }
    for (const auto& [name, value] : check.values) {
      EXPECT_EQ(value.find("secret"), std::string::npos) << c.what;
      if (name == "password") {
        EXPECT_EQ(value, c.password) << c.what;
      }
      if (name == "sqlCommandTimeout") {
        EXPECT_EQ(value, "30 (default)") << c.what;
      }
    }
  }
}

}  // namespace
}  // namespace pv::settings
