// The real pvremote program: started as systemd starts it, as a debug run,
// as neither, and with each command-line switch.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "settings/password.h"
#include "settings/registry_store.h"
#include "tests/protocol/local_site.h"
#include "tests/service/test_central.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using pv::testing::RunFor;
using pv::testing::RunUntil;

namespace {

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The program, started with the test's environment minus everything that
// says how it was started, plus `extra`.
class Program {
 public:
  Program(const std::vector<std::string>& args, const std::map<std::string, std::string>& extra,
          const fs::path& output) {
    static const char* kDropped[] = {"INVOCATION_ID",  "SYSTEMD_EXEC_PID", "NOTIFY_SOCKET",
                                     "PVREMOTE_DEBUG", "PVREMOTE_ROOT",    "PVREMOTE_SYSTEMCTL",
                                     "STATE_DIRECTORY"};
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('='));
      bool drop = extra.count(name) > 0;
      for (const char* d : kDropped) drop = drop || name == d;
      if (!drop) env_.push_back(entry);
    }
    for (const auto& [k, v] : extra) env_.push_back(k + "=" + v);

    std::vector<std::string> argv = {PVREMOTE_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> a;
    for (auto& s : argv) a.push_back(s.data());
    a.push_back(nullptr);
    std::vector<char*> e;
    for (auto& s : env_) e.push_back(s.data());
    e.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, a[0], &actions, nullptr, a.data(), e.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool started() const { return pid_ > 0; }
  void Signal(int sig) { kill(pid_, sig); }
  // True once the program has ended; its exit status in `status`.
  bool Exited() {
    if (exited_) return true;
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      exited_ = true;
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    }
    return exited_;
  }
  int Wait() {
    while (!Exited()) std::this_thread::sleep_for(5ms);
    return status_;
  }
  int status() const { return status_; }

 private:
  std::vector<std::string> env_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;
};

// A datagram socket standing in for systemd's notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(const fs::path& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", path.c_str());
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  }
  ~NotifySocket() { close(fd_); }
  // Reads every datagram waiting.
  const std::vector<std::string>& Poll() {
    char buf[256];
    for (ssize_t n; (n = recv(fd_, buf, sizeof(buf), 0)) > 0;) {
      messages_.emplace_back(buf, static_cast<std::size_t>(n));
    }
    return messages_;
  }

 private:
  fs::path path_;
  int fd_ = -1;
  std::vector<std::string> messages_;
};

class PvremoteProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = pv::testing::MakeTempDir("pvproc");
    paths_.emplace(pv::platform::Paths::UnderRoot(root_.string()));
    pv::settings::RegistryStore store(*paths_);
    store.SetRegValue("sqlDriver", "embedded");
    store.SetRegValue("sqlPort", "1433");
    store.SetRegValue("centralHost", "127.0.0.1");
    store.SetRegValue("centralPort", central_.port());
    site_.emplace(root_ / "var/lib/pvremote/sql", "1433", "", true);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  std::string Log() const {
    std::string all;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(root_ / "var/lib/pvremote/Portavento", ec)) {
      if (e.path().filename().string().rfind("Log ", 0) == 0) all += ReadFile(e.path());
    }
    return all;
  }
  std::string Output() const { return ReadFile(root_ / "output.txt"); }

  // Waits, running the test's central server, for the program to end.
  bool WaitExit(Program& p, std::chrono::milliseconds timeout = 10s) {
    return RunUntil(
        io_, [&] { return p.Exited(); }, timeout);
  }

  asio::io_context io_;
  pv::testing::TestCentral central_{io_};
  fs::path root_;
  std::optional<pv::platform::Paths> paths_;
  std::optional<pv::testing::LocalSite> site_;
};

}  // namespace

TEST_F(PvremoteProcessTest, UnderSystemdStartsAfterTheDelayAndStopsOnSigterm) {
  NotifySocket notify(root_ / "notify.sock");
  Program p({},
            {{"PVREMOTE_ROOT", root_.string()},
             {"INVOCATION_ID", "00112233445566778899aabbccddeeff"},
             {"NOTIFY_SOCKET", (root_ / "notify.sock").string()}},
            root_ / "output.txt");
  ASSERT_TRUE(p.started());
  ASSERT_TRUE(RunUntil(io_, [&] { return !notify.Poll().empty(); })) << Output();
  EXPECT_EQ(notify.Poll().front(), "READY=1");
  const auto ready = std::chrono::steady_clock::now();
  ASSERT_TRUE(RunUntil(io_, [&] { return central_.open(); })) << Output();
  EXPECT_GE(std::chrono::steady_clock::now() - ready, 1500ms);  // the start delay
  EXPECT_EQ(Count(Log(), "Remote Started"), 1);

  central_.Reply("CONN");
  ASSERT_TRUE(RunUntil(io_, [&] { return !central_.notices().empty(); }));
  EXPECT_EQ(central_.notices()[0].substr(0, 5), "NWID ");

  // The end of a terminal session changes nothing.
  p.Signal(SIGHUP);
  RunFor(io_, 200ms);
  EXPECT_FALSE(p.Exited());
  EXPECT_TRUE(central_.open());

  p.Signal(SIGTERM);
  ASSERT_TRUE(WaitExit(p)) << Output();
  EXPECT_EQ(p.status(), 0) << Output();
  RunUntil(
      io_, [&] { return !central_.open(); }, 2s);
  EXPECT_FALSE(central_.open());
  EXPECT_EQ(Count(Log(), "Remote Shutdown"), 1);
  EXPECT_EQ(notify.Poll().back(), "STOPPING=1");
}

TEST_F(PvremoteProcessTest, DebugRunStartsAtOnceAndStopsOnCtrlC) {
  Program p({}, {{"PVREMOTE_ROOT", root_.string()}, {"PVREMOTE_DEBUG", "1"}}, root_ / "output.txt");
  ASSERT_TRUE(RunUntil(
      io_, [&] { return central_.open(); }, 1500ms))
      << Output();
  EXPECT_EQ(Count(Log(), "Remote Started"), 1);
  p.Signal(SIGHUP);
  RunFor(io_, 200ms);
  EXPECT_FALSE(p.Exited());
  p.Signal(SIGINT);
  ASSERT_TRUE(WaitExit(p)) << Output();
  EXPECT_EQ(p.status(), 0);
  EXPECT_EQ(Count(Log(), "Remote Shutdown"), 1);
}

TEST_F(PvremoteProcessTest, StartedNeitherWayItExitsAtOnce) {
  Program p({}, {{"PVREMOTE_ROOT", root_.string()}}, root_ / "output.txt");
  ASSERT_TRUE(WaitExit(p, 5s));
  EXPECT_NE(p.status(), 0);
  EXPECT_EQ(central_.connections(), 0);
  EXPECT_FALSE(fs::exists(root_ / "var/lib/pvremote/Portavento"));
}

TEST_F(PvremoteProcessTest, SwitchesMapToSystemctl) {
  const fs::path calls = root_ / "calls.txt";
  const fs::path recorder = root_ / "systemctl";
  {
    std::ofstream out(recorder);
    // Records every call; "enable" fails while the file "refuse" exists.
    out << "#!/bin/sh\necho \"$*\" >> '" << calls.string() << "'\n"
        << "case \"$*\" in *enable*) [ -e '" << (root_ / "refuse").string()
        << "' ] && exit 1;; esac\nexit 0\n";
  }
  fs::permissions(recorder, fs::perms(0755));
  pv::settings::RegistryStore store(*paths_);
  store.SetRegValue("sqlPWD", "user secret", "", "HKCU");

  auto run = [&](const std::vector<std::string>& args) {
    fs::remove(calls);
    Program p(args, {{"PVREMOTE_ROOT", root_.string()}, {"PVREMOTE_SYSTEMCTL", recorder.string()}},
              root_ / "output.txt");
    EXPECT_TRUE(WaitExit(p)) << Output();
    std::vector<std::string> lines;
    std::stringstream s(ReadFile(calls));
    const std::string rootArg = "--root=" + root_.string() + " ";
    for (std::string l; std::getline(s, l);) {
      EXPECT_EQ(l.rfind(rootArg, 0), 0u) << l;
      lines.push_back(l.substr(std::min(l.size(), rootArg.size())));
    }
    return std::make_pair(p.status(), lines);
  };
  using Calls = std::vector<std::string>;

  auto [status, lines] = run({"/i"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(lines, (Calls{"enable PVRemote.service", "start --no-block PVRemote.service"}));
  EXPECT_TRUE(fs::exists(root_ / "etc/systemd/system/PVRemote.service"));
  EXPECT_EQ(pv::settings::DecodePassword(store.GetRegValue("sqlPWDq")), "user secret");

  std::ofstream(root_ / "refuse").close();
  std::tie(status, lines) = run({"/i"});
  EXPECT_NE(status, 0);
  EXPECT_EQ(lines, Calls{"enable PVRemote.service"});  // no start after a failed install
  fs::remove(root_ / "refuse");

  EXPECT_EQ(run({"/ss"}).second, Calls{"start --no-block PVRemote.service"});
  EXPECT_EQ(run({" /C "}).second, Calls{"stop --no-block PVRemote.service"});
  EXPECT_EQ(run({"/c"}).second, Calls{"stop --no-block PVRemote.service"});
  std::tie(status, lines) = run({"/u"});
  EXPECT_EQ(lines, Calls{"disable PVRemote.service"});
  EXPECT_FALSE(fs::exists(root_ / "etc/systemd/system/PVRemote.service"));

  for (const std::vector<std::string>& junk :
       {std::vector<std::string>{"/I"}, {"/U"}, {"/SS"}, {"/i", "now"}, {"--help"}, {""}}) {
    std::tie(status, lines) = run(junk);
    EXPECT_NE(status, 0);
    EXPECT_TRUE(lines.empty()) << junk[0];
  }
  EXPECT_EQ(central_.connections(), 0);
  EXPECT_FALSE(fs::exists(root_ / "var/lib/pvremote/Portavento"));
}
