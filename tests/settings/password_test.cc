#include "settings/password.h"

#include <gtest/gtest.h>

#include "settings/registry_store.h"
#include "settings/service_settings.h"
#include "tests/support/temp_dir.h"

namespace pv::settings {
namespace {

TEST(Password, EncodesThreeDigitsPerCharacterAndDecodesBack) {
  EXPECT_EQ(EncodePassword("abc"), "097098099");
  EXPECT_EQ(EncodePassword("A"), "065");
  EXPECT_EQ(EncodePassword(""), "");
  EXPECT_EQ(EncodePassword("\xC2\xA7\xC3\xA9"), "167233");  // "§é" in Windows-1252
  for (std::string plain : {"abc", "P@ss w0rd!", "\xC2\xA7\xC3\xA9\xE2\x82\xAC", "", "~"}) {
    EXPECT_EQ(DecodePassword(EncodePassword(plain)), plain);
  }
  EXPECT_EQ(DecodePassword("09765"), "aA");  // a shorter last group stands as it is
}

TEST(Password, AGroupThatIsNotACodeDoesNotDecode) {
  EXPECT_EQ(DecodePassword("09a"), std::nullopt);
  EXPECT_EQ(DecodePassword("097256"), std::nullopt);
  EXPECT_EQ(DecodePassword("097 98"), std::nullopt);
  EXPECT_EQ(DecodePassword("-01"), std::nullopt);
}

class MigrationTest : public ::testing::Test {
 protected:
  pv::testing::TempDir root;
  RegistryStore store{platform::Paths::UnderRoot(root.path())};
};

TEST_F(MigrationTest, CopiesTheUsersPasswordEncodedIntoTheMachineStore) {
  store.SetRegValue("sqlPWDq", EncodePassword("fromq"), "", kRootCurrentUser);
  store.SetRegValue("sqlPWD", "plain", "", kRootCurrentUser);
  store.MigratePassword();
  EXPECT_EQ(store.GetRegValue("sqlPWDq"), EncodePassword("fromq"));
  EXPECT_EQ(store.GetRegValue("sqlPWD"), "");
  EXPECT_EQ(store.GetRegValue("sqlPWD", "", kRootCurrentUser), "plain");  // left where it is

  pv::testing::TempDir other;
  RegistryStore plainOnly(platform::Paths::UnderRoot(other.path()));
  plainOnly.SetRegValue("sqlPWD", "plain", "", kRootCurrentUser);
  plainOnly.SetRegValue("sqlUID", "user", "", kRootCurrentUser);
  plainOnly.MigratePassword();
  EXPECT_EQ(plainOnly.GetRegValue("sqlPWDq"), EncodePassword("plain"));
  EXPECT_EQ(plainOnly.GetRegValue("sqlUID"), "");  // only the password moves
}

TEST_F(MigrationTest, AnExistingMachinePasswordOrAnEmptyOneChangesNothing) {
  store.SetRegValue("sqlPWD", "machine");
  store.SetRegValue("sqlPWD", "user", "", kRootCurrentUser);
  store.MigratePassword();
  EXPECT_EQ(store.GetRegValue("sqlPWDq"), "");
  EXPECT_EQ(store.GetRegValue("sqlPWD"), "machine");

  pv::testing::TempDir other;
  platform::Paths paths = platform::Paths::UnderRoot(other.path());
  RegistryStore empty(paths);
  empty.SetRegValue("sqlPWD", "", "", kRootCurrentUser);
  empty.MigratePassword();
  EXPECT_FALSE(std::filesystem::exists(paths.MachineStore()));

  empty.SetRegValue("sqlPWDq", "x9y", "", kRootCurrentUser);  // does not decode
  empty.MigratePassword();
  EXPECT_FALSE(std::filesystem::exists(paths.MachineStore()));
}

TEST(ServiceSettings, EmptyValuesTakeTheDefaultsOfMissingOnes) {
  pv::testing::TempDir root;
  RegistryStore store(platform::Paths::UnderRoot(root.path()));
  const ServiceSettings missing = ServiceSettings::Read(store);
  for (auto name : {"sqlUID", "sqlPort", "centralHost", "centralPort", "sqlDriver", "sqlPWD"}) {
    store.SetRegValue(name, "");
  }
  const ServiceSettings empty = ServiceSettings::Read(store);
  EXPECT_EQ(empty.sqlUID, missing.sqlUID);
  EXPECT_EQ(empty.sqlPort, missing.sqlPort);
  EXPECT_EQ(empty.centralHost, missing.centralHost);
  EXPECT_EQ(empty.centralPort, missing.centralPort);
  EXPECT_EQ(empty.sqlDriver, missing.sqlDriver);
  EXPECT_EQ(empty.sqlPassword, "");
  EXPECT_FALSE(empty.embedded());
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

  store.SetRegValue("sqlUID", "operator");
  store.SetRegValue("sqlPort", "1500");
  store.SetRegValue("centralHost", " central.example ");
  store.SetRegValue("centralPort", "9090");
  store.SetRegValue("sqlDriver", "Embedded");
  auto s = ServiceSettings::Read(store);
  EXPECT_EQ(s.sqlUID, "operator");
  EXPECT_EQ(s.sqlPort, "1500");
  EXPECT_EQ(s.centralHost, "central.example");
  EXPECT_EQ(s.centralPort, "9090");
  EXPECT_TRUE(s.embedded());
}

}  // namespace
}  // namespace pv::settings
