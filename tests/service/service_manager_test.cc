// The service-manager side: command-line switches, the systemd unit, the
// systemctl calls, readiness notification and the control signals.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/service/control_signals.h"
#include "platform/service/event_log.h"
#include "platform/service/notify.h"
#include "platform/service/service_control.h"
#include "platform/service/unit_file.h"
#include "service/command_line.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using pv::service::ParseCommandLine;
using pv::service::Switch;

namespace {

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    if (old != nullptr) old_ = old;
    had_ = old != nullptr;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

using pv::testing::ReadFile;
using pv::testing::TempDir;

}  // namespace

TEST(CommandLine, SwitchesCompareAsTheServiceManagerExpects) {
  // "/c" is trimmed and lower-cased.
  EXPECT_EQ(ParseCommandLine("/c"), Switch::StopService);
  EXPECT_EQ(ParseCommandLine("  /C  "), Switch::StopService);
  // The other switches compare exactly.
  EXPECT_EQ(ParseCommandLine("/i"), Switch::Install);
  EXPECT_EQ(ParseCommandLine("/I"), Switch::Unknown);
  EXPECT_EQ(ParseCommandLine(" /i"), Switch::Unknown);
  EXPECT_EQ(ParseCommandLine("/u"), Switch::Uninstall);
  EXPECT_EQ(ParseCommandLine("/U"), Switch::Unknown);
  EXPECT_EQ(ParseCommandLine("/ss"), Switch::StartService);
  EXPECT_EQ(ParseCommandLine("/SS"), Switch::Unknown);
  EXPECT_EQ(ParseCommandLine(""), Switch::Run);
  EXPECT_EQ(ParseCommandLine(" "), Switch::Unknown);
  EXPECT_EQ(ParseCommandLine("--help"), Switch::Unknown);
  EXPECT_EQ(ParseCommandLine("/c /i"), Switch::Unknown);

  const char* none[] = {"pvremote"};
  EXPECT_EQ(pv::service::CommandLineText(1, none), "");
  const char* two[] = {"pvremote", "/c", "now"};
  EXPECT_EQ(pv::service::CommandLineText(3, two), "/c now");
  const char* emptyArg[] = {"pvremote", ""};
  EXPECT_EQ(ParseCommandLine(pv::service::CommandLineText(2, emptyArg)), Switch::Unknown);
}

TEST(SystemdUnit, WrittenUnderTheRootAndAcceptedBySystemd) {
  TempDir root;
  ScopedEnv env("PVREMOTE_ROOT", fs::path(root.path()).string());
  const fs::path exe = pv::platform::OwnExecutable();
  ASSERT_FALSE(exe.empty());
  ASSERT_TRUE(pv::platform::WriteUnitFile(exe));

  const fs::path unit = fs::path(root.path()) / "etc/systemd/system/PVRemote.service";
  ASSERT_EQ(pv::platform::UnitPath(), unit);
  const std::string text = ReadFile(unit);
  EXPECT_NE(text.find("Description=Portavento Remote\n"), std::string::npos);
  EXPECT_NE(text.find("Type=notify\n"), std::string::npos);
  EXPECT_NE(text.find("Restart=on-failure\n"), std::string::npos);
  EXPECT_NE(text.find("StateDirectory=pvremote\n"), std::string::npos);
  EXPECT_NE(text.find("WantedBy=multi-user.target\n"), std::string::npos);
  EXPECT_NE(text.find("ExecStart=\"" + exe.string() + "\"\n"), std::string::npos);

  if (std::system("command -v systemd-analyze >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "systemd-analyze is not installed";
  }
  const std::string cmd = "systemd-analyze verify '" + unit.string() + "' >'" +
                          (fs::path(root.path()) / "verify.txt").string() + "' 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << ReadFile(fs::path(root.path()) / "verify.txt");
}

TEST(SystemdUnit, ExecutablePathWithBlanksIsQuoted) {
  const std::string text = pv::platform::UnitText("/opt/port vento/pv\"remote%");
  EXPECT_NE(text.find("ExecStart=\"/opt/port vento/pv\\\"remote%%\"\n"), std::string::npos);
}

TEST(ServiceControl, RealSystemctlEnablesAndDisablesBelowTheRoot) {
  if (std::system("command -v systemctl >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "systemctl is not installed";
  }
  TempDir dir;
  ScopedEnv root("PVREMOTE_ROOT", fs::path(dir.path()).string());
  const fs::path wants =
      fs::path(dir.path()) / "etc/systemd/system/multi-user.target.wants/PVRemote.service";
  ASSERT_TRUE(pv::platform::InstallService());
  EXPECT_TRUE(fs::is_symlink(wants));
  pv::platform::UninstallService();
  EXPECT_FALSE(fs::is_symlink(wants));
  EXPECT_FALSE(fs::exists(fs::path(dir.path()) / "etc/systemd/system/PVRemote.service"));
}

TEST(ServiceManagerNotification, ReadinessReachesTheNotifySocket) {
  TempDir dir;
  const fs::path sockPath = fs::path(dir.path()) / "notify";
  const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", sockPath.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);

  {
    ScopedEnv notify("NOTIFY_SOCKET", sockPath.string());
    EXPECT_TRUE(pv::platform::NotifyServiceManager("READY=1"));
    EXPECT_TRUE(pv::platform::NotifyServiceManager("STOPPING=1"));
  }
  char buf[64];
  ssize_t n = recv(fd, buf, sizeof(buf), 0);
  EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "READY=1");
  n = recv(fd, buf, sizeof(buf), 0);
  EXPECT_EQ(std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0), "STOPPING=1");
  close(fd);

  // No socket named, or one nobody listens on: nothing sent.
  unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(pv::platform::NotifyServiceManager("READY=1"));
  ScopedEnv gone("NOTIFY_SOCKET", (fs::path(dir.path()) / "nobody").string());
  EXPECT_FALSE(pv::platform::NotifyServiceManager("READY=1"));
}

TEST(ServiceManagerNotification, AbstractSocketNamesWork) {
  const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  const std::string name = "pvremote-test-" + std::to_string(getpid());
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ScopedEnv notify("NOTIFY_SOCKET", "@" + name);
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
  ScopedEnv invocation("INVOCATION_ID", "0123456789abcdef0123456789abcdef");
  EXPECT_TRUE(pv::platform::StartedByServiceManager());
  {
    ScopedEnv pid("SYSTEMD_EXEC_PID", std::to_string(getpid()));
    EXPECT_TRUE(pv::platform::StartedByServiceManager());
  }
  ScopedEnv other("SYSTEMD_EXEC_PID", std::to_string(getpid() + 1));
  EXPECT_FALSE(pv::platform::StartedByServiceManager());
}

TEST(EventLog, ErrorEntryText) {
  EXPECT_EQ(pv::platform::EventLogText(5, "Invalid procedure call"), "[5] Invalid procedure call");
  EXPECT_EQ(pv::platform::EventLogText(0, ""), "[0] ");
  pv::platform::WriteEventLogError(-2147467259,
                                   "written to syslog");  // must not fail without a log
}

TEST(ControlSignals, EachSignalArrivesAsItsRequestOnTheLoop) {
  asio::io_context io;
  std::vector<pv::platform::ControlRequest> seen;
  pv::platform::ControlSignals signals(io, [&](pv::platform::ControlRequest r) {
    seen.push_back(r);
    if (seen.size() == 3) io.stop();
  });
  asio::steady_timer guard(io, std::chrono::seconds(10));
  guard.async_wait([&](const std::error_code& ec) {
    if (!ec) io.stop();
  });
  std::raise(SIGHUP);
  io.run_one();
  std::raise(SIGINT);
  io.run_one();
  std::raise(SIGTERM);
  io.run();
  using R = pv::platform::ControlRequest;
  EXPECT_EQ(seen, (std::vector<R>{R::SessionEnd, R::Close, R::Stop}));
}
