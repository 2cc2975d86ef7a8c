// The service-manager side the program tests cannot reach: the unit's
// quoting, the real systemctl, notification sockets that are absent or
// abstract, and who counts as started by systemd.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/service/event_log.h"
#include "platform/service/notify.h"
#include "platform/service/service_control.h"
#include "platform/service/unit_file.h"
#include "tests/support/env.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Sets an environment variable for the lifetime of the object.
using pv::testing::EnvGuard;

using pv::testing::TempDir;

}  // namespace

// The unit "/i" writes is the one the package installs, confined so that
// systemd rates it 2.5 or lower, and runs as root only where no service user
// exists.
TEST(SystemdUnit, InstallWritesThePackagedHardenedUnit) {
  using pv::platform::UnitText;
  EXPECT_NE(UnitText("/opt/port vento/pv\"remote%")
                .find("ExecStart=\"/opt/port vento/pv\\\"remote%%\"\n"),
            std::string::npos);
  const std::string packaged = UnitText("/usr/bin/pvremote", "pvremote");
  EXPECT_EQ(packaged, pv::testing::ReadFile(PV_SOURCE_DIR "/debian/PVRemote.service"));
  EXPECT_NE(packaged.find("\nUser=pvremote\nGroup=pvremote\n"), std::string::npos);
  EXPECT_EQ(UnitText("/usr/bin/pvremote").find("User="), std::string::npos);
  for (const char* line : {"ProtectSystem=strict\n", "ReadWritePaths=/etc/pvremote\n",
                           "StateDirectory=pvremote\n", "CapabilityBoundingSet=\n"}) {
    EXPECT_NE(packaged.find(line), std::string::npos) << line;
  }
  if (std::system("systemd-analyze security --help 2>/dev/null | grep -q -- --offline") != 0) {
    GTEST_SKIP() << "systemd-analyze cannot rate a unit file offline";
  }
  TempDir dir;
  for (const std::string& user : {std::string("pvremote"), std::string()}) {
    pv::testing::WriteFile(dir / "PVRemote.service", UnitText("/usr/bin/pvremote", user));
    const std::string cmd = "cd '" + dir.path() +
                            "' && systemd-analyze security --offline=true --threshold=25 "
                            "PVRemote.service >report.txt 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << user << pv::testing::ReadFile(dir / "report.txt");
  }
}

TEST(ServiceControl, RealSystemctlEnablesAndDisablesBelowTheRoot) {
  if (std::system("command -v systemctl >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "systemctl is not installed";
  }
  TempDir dir;
  EnvGuard root("PVREMOTE_ROOT", fs::path(dir.path()).string());
  const fs::path wants =
      fs::path(dir.path()) / "etc/systemd/system/multi-user.target.wants/PVRemote.service";
  ASSERT_TRUE(pv::platform::InstallService());
  EXPECT_TRUE(fs::is_symlink(wants));
  pv::platform::UninstallService();
  EXPECT_FALSE(fs::is_symlink(wants));
  EXPECT_FALSE(fs::exists(fs::path(dir.path()) / "etc/systemd/system/PVRemote.service"));
}

TEST(ServiceManagerNotification, OnlyAListeningSocketIsToldAndAbstractNamesWork) {
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(pv::platform::NotifyServiceManager("READY=1"));
  {
    TempDir dir;
    EnvGuard gone("NOTIFY_SOCKET", dir / "nobody");
    EXPECT_FALSE(pv::platform::NotifyServiceManager("READY=1"));
  }

  const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  const std::string name = "pvremote-test-" + std::to_string(getpid());
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), len), 0);
  EnvGuard notify("NOTIFY_SOCKET", "@" + name);
  EXPECT_TRUE(pv::platform::NotifyServiceManager("READY=1"));
  char buf[16];
  const ssize_t n = recv(fd, buf, sizeof(buf), 0);
  EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "READY=1");
  close(fd);
}

TEST(ServiceManagerNotification, StartedBySystemdOnlyForTheProcessItStarted) {
  unsetenv("INVOCATION_ID");
  unsetenv("SYSTEMD_EXEC_PID");
  EXPECT_FALSE(pv::platform::StartedByServiceManager());
  EnvGuard invocation("INVOCATION_ID", "0123456789abcdef0123456789abcdef");
  EXPECT_TRUE(pv::platform::StartedByServiceManager());
  {
    EnvGuard pid("SYSTEMD_EXEC_PID", std::to_string(getpid()));
    EXPECT_TRUE(pv::platform::StartedByServiceManager());
  }
  EnvGuard other("SYSTEMD_EXEC_PID", std::to_string(getpid() + 1));
  EXPECT_FALSE(pv::platform::StartedByServiceManager());
}

TEST(EventLog, ErrorEntryText) {
  EXPECT_EQ(pv::platform::EventLogText(5, "Invalid procedure call"), "[5] Invalid procedure call");
  EXPECT_EQ(pv::platform::EventLogText(0, ""), "[0] ");
  pv::platform::WriteEventLogError(-2147467259,
                                   "written to syslog");  // must not fail without a log
}
