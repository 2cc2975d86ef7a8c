#include "settings/password.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <tuple>

#include "settings/registry_store.h"
#include "settings/service_settings.h"
#include "tests/support/temp_dir.h"

namespace pv::settings {
namespace {

TEST(Password, EncodesThreeDigitsPerWindows1252ByteAndDecodesBack) {
  EXPECT_EQ(EncodePassword("abc"), "097098099");
  EXPECT_EQ(EncodePassword("\xC2\xA7\xC3\xA9"), "167233");  // "§é" in Windows-1252
  for (std::string plain : {"abc", "P@ss w0rd!", "\xC2\xA7\xC3\xA9\xE2\x82\xAC", "", "~"}) {
    EXPECT_EQ(DecodePassword(EncodePassword(plain)), plain);
  }
  EXPECT_EQ(DecodePassword("09765"), "aA");  // a shorter last group stands as it is
  // A group that is not a code does not decode.
  for (const char* bad : {"09a", "097256", "097 98", "-01"}) {
    EXPECT_EQ(DecodePassword(bad), std::nullopt) << bad;
  }
}

TEST(Password, MigrationCopiesTheUsersPasswordEncodedUnlessTheMachineHasOne) {
  using Values = std::map<std::string, std::string>;
  struct Case {
    Values user, machine;  // set before the migration
    std::string wantPWDq;  // the machine's afterwards
  };
  const Case cases[] = {
      // The encoded value before the plain one; the user's values stay where they are.
      {{{"sqlPWDq", EncodePassword("fromq")}, {"sqlPWD", "plain"}}, {}, EncodePassword("fromq")},
      {{{"sqlPWD", "plain"}, {"sqlUID", "user"}}, {}, EncodePassword("plain")},  // only that
      // A machine password stays; an empty or undecodable one writes nothing, not even a file.
      {{{"sqlPWD", "user"}}, {{"sqlPWD", "machine"}}, ""},
      {{{"sqlPWD", ""}}, {}, ""},
      {{{"sqlPWD", ""}, {"sqlPWDq", "x9y"}}, {}, ""},
  };
  for (const Case& k : cases) {
    pv::testing::TempDir root;
    const auto paths = platform::Paths::UnderRoot(root.path());
    RegistryStore store(paths);
    for (const auto& [name, value] : k.user) store.SetRegValue(name, value, "", kRootCurrentUser);
    for (const auto& [name, value] : k.machine) store.SetRegValue(name, value);
    store.MigratePassword();
    EXPECT_EQ(store.GetRegValue("sqlPWDq"), k.wantPWDq);
    for (const std::string name : {"sqlPWD", "sqlUID"}) {
      EXPECT_EQ(store.GetRegValue(name), k.machine.contains(name) ? k.machine.at(name) : "");
      EXPECT_EQ(store.GetRegValue(name, "", kRootCurrentUser),
                k.user.contains(name) ? k.user.at(name) : "");
    }
    EXPECT_EQ(std::filesystem::exists(paths.MachineStore()),
              !k.wantPWDq.empty() || !k.machine.empty());
  }
}

TEST(ServiceSettings, EmptyValuesTakeTheDefaultsOfMissingOnes) {
  pv::testing::TempDir root;
  RegistryStore store(platform::Paths::UnderRoot(root.path()));
  const ServiceSettings missing = ServiceSettings::Read(store);
  for (auto name : {"sqlUID", "sqlPort", "centralHost", "centralPort", "sqlDriver", "sqlPWD"}) {
    store.SetRegValue(name, "");
  }
  const ServiceSettings empty = ServiceSettings::Read(store);
  EXPECT_EQ(std::tie(empty.sqlUID, empty.sqlPort, empty.centralHost, empty.centralPort,
                     empty.sqlDriver, empty.sqlPassword),
            std::tie(missing.sqlUID, missing.sqlPort, missing.centralHost, missing.centralPort,
                     missing.sqlDriver, missing.sqlPassword));
  EXPECT_FALSE(empty.embedded());
  // Days of daily logs kept: a whole number, anything else keeps them all.
  for (auto [value, days] :
       {std::pair{"", 0}, {" 90 ", 90}, {"7", 7}, {"-3", 0}, {"1e3", 0}, {"99999999999", 0}}) {
    store.SetRegValue("logKeepDays", value);
    EXPECT_EQ(ServiceSettings::Read(store).logKeepDays, days) << value;
  }
}

TEST(ServiceSettings, PasswordPrefersTheTrimmedEncodedValue) {
  pv::testing::TempDir root;
  RegistryStore store(platform::Paths::UnderRoot(root.path()));
  store.SetRegValue("sqlPWD", "  plain  ");
  EXPECT_EQ(ServiceSettings::Read(store).sqlPassword, "plain");
  store.SetRegValue("sqlPWDq", " " + EncodePassword(" s3cret") + " ");
  EXPECT_EQ(ServiceSettings::Read(store).sqlPassword, " s3cret");
  store.SetRegValue("sqlPWDq", "0970x8");
  EXPECT_EQ(ServiceSettings::Read(store).sqlPassword, std::nullopt);

  // The other values as stored, the central server's and the driver trimmed.
  for (auto [name, value] : {std::pair{"sqlUID", "operator"},
                             {"sqlPort", "1500"},
                             {"centralHost", " central.example "},
                             {"centralPort", " 9090"},
                             {"sqlDriver", " Embedded "}}) {
    store.SetRegValue(name, value);
  }
  auto s = ServiceSettings::Read(store);
  EXPECT_EQ(std::tie(s.sqlUID, s.sqlPort, s.centralHost, s.centralPort),
            std::make_tuple("operator", "1500", "central.example", "9090"));
  EXPECT_TRUE(s.embedded());
}

TEST(ServiceSettings, OdbcTimeoutsAreWholeSecondsElseTheDefaults) {
  pv::testing::TempDir root;
  RegistryStore store(platform::Paths::UnderRoot(root.path()));
  const ServiceSettings defaults = ServiceSettings::Read(store);
  EXPECT_EQ(std::tie(defaults.sqlLoginTimeout, defaults.sqlCommandTimeout),
            std::make_tuple(15, 30));
  const std::pair<const char*, int> cases[] = {
      {"0", 0},   {" 120 ", 120}, {"65535", 65535}, {"", -1},     {"-1", -1},
      {"5s", -1}, {"1.5", -1},    {"65536", -1},    {"0x10", -1},
  };
  for (const auto& [text, want] : cases) {
    store.SetRegValue("sqlLoginTimeout", text);
    store.SetRegValue("sqlCommandTimeout", text);
    const auto s = ServiceSettings::Read(store);
    EXPECT_EQ(s.sqlLoginTimeout, want < 0 ? 15 : want) << text;
    EXPECT_EQ(s.sqlCommandTimeout, want < 0 ? 30 : want) << text;
  }
}

}  // namespace
}  // namespace pv::settings
