#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "platform/files.h"
#include "tests/support/env.h"

namespace pv::platform {
namespace {

// Sets environment variables for one test (null removes one) and puts the
// old values back.
using pv::testing::EnvGuard;

TEST(Paths, RootVariableRelocatesEveryLocation) {
  EnvGuard env;
  env.Set("PVREMOTE_ROOT", "/tmp/site");
  env.Set("STATE_DIRECTORY", "/var/lib/elsewhere");
  // The root as given, then the layout with the system's separator.
  auto under = [](std::string rest) {
#ifdef _WIN32
    for (char& c : rest) {
      if (c == '/') c = '\\';
    }
#endif
    return "/tmp/site" + rest;
  };
  Paths p = Paths::FromEnvironment();
  EXPECT_EQ(p.root(), "/tmp/site");
  EXPECT_EQ(p.MachineStore(), under("/etc/pvremote/machine.reg"));
  EXPECT_EQ(p.DefaultUserStore(), under("/etc/pvremote/default-user.reg"));
  EXPECT_EQ(p.CurrentUserStore(), under("/home/.config/pvremote/user.reg"));
  EXPECT_EQ(p.LocalAppDataFolder(), under("/var/lib/pvremote/"));
  EXPECT_EQ(Paths::UnderRoot("/tmp/site/").MachineStore(), under("/etc/pvremote/machine.reg"));
}

TEST(Paths, WithoutRootTheSystemAndUserLocationsApply) {
  EnvGuard env;
  env.Set("PVREMOTE_ROOT", nullptr);
  env.Set("HOME", "/home/op");
  env.Set("XDG_CONFIG_HOME", nullptr);
  env.Set("XDG_DATA_HOME", nullptr);
  env.Set("STATE_DIRECTORY", nullptr);
  Paths p = Paths::FromEnvironment();
  EXPECT_EQ(p.root(), "");
#ifdef _WIN32
  // The registry holds the settings; the shell names the data folder.
  EXPECT_EQ(p.MachineStore(), "");
  EXPECT_EQ(p.CurrentUserStore(), "");
  ASSERT_FALSE(p.LocalAppDataFolder().empty());
  EXPECT_EQ(p.LocalAppDataFolder().back(), '\\');
  EXPECT_TRUE(FileExists(p.LocalAppDataFolder(), kAttrDirectory));
#else
  EXPECT_EQ(p.MachineStore(), "/etc/pvremote/machine.reg");
  EXPECT_EQ(p.DefaultUserStore(), "/etc/pvremote/default-user.reg");
  EXPECT_EQ(p.CurrentUserStore(), "/home/op/.config/pvremote/user.reg");
  EXPECT_EQ(p.LocalAppDataFolder(), "/home/op/.local/share/pvremote/");

  env.Set("XDG_CONFIG_HOME", "/cfg");
  env.Set("XDG_DATA_HOME", "/data/");
  p = Paths::FromEnvironment();
  EXPECT_EQ(p.CurrentUserStore(), "/cfg/pvremote/user.reg");
  EXPECT_EQ(p.LocalAppDataFolder(), "/data/pvremote/");

  // Under systemd the service's state directory (the first, when several).
  env.Set("STATE_DIRECTORY", "/var/lib/pvremote:/var/lib/other");
  EXPECT_EQ(Paths::FromEnvironment().LocalAppDataFolder(), "/var/lib/pvremote/");
#endif
}

TEST(Paths, DebugRunNeedsTheVariableAndNeverUnderSystemd) {
  EnvGuard env;
  const char* const kNone = nullptr;
  // PVREMOTE_DEBUG, INVOCATION_ID, NOTIFY_SOCKET, and whether that is a debug run.
  for (auto [debug, invocation, notify, want] : {std::tuple{kNone, kNone, kNone, false},
                                                 {"0", kNone, kNone, false},
                                                 {"1", kNone, kNone, true},
                                                 {"1", "0123abcd", kNone, false},
                                                 {"1", kNone, "/run/systemd/notify", false}}) {
    env.Set("PVREMOTE_DEBUG", debug);
    env.Set("INVOCATION_ID", invocation);
    env.Set("NOTIFY_SOCKET", notify);
    EXPECT_EQ(IsDebugRun(), want) << (debug ? debug : "-") << (invocation ? " systemd" : "");
  }
}

TEST(Paths, ProgramFolderHoldsTheRunningExecutable) {
  std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
#ifdef _WIN32
  EXPECT_EQ(folder.back(), '\\');
  EXPECT_TRUE(FileExists(folder + "pv_platform_tests.exe"));
#else
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(FileExists(folder + "pv_platform_tests"));
#endif
}

}  // namespace
}  // namespace pv::platform
