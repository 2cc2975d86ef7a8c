#include "tests/e2e/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace pv::e2e {

Process::Process(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env,
                 const std::filesystem::path& outputFile, bool inputPipe)
    : output_(outputFile) {
  // Everything the child needs is built before fork: after fork only
  // async-signal-safe calls are made.
  std::vector<std::string> envText;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (env.count(name) == 0) envText.push_back(entry);
  }
  for (const auto& [name, value] : env) {
    if (!value.empty()) envText.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (auto& s : envText) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string exe = program.string();
  std::vector<std::string> argText{exe};
  argText.insert(argText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argText) argv.push_back(s.data());
  argv.push_back(nullptr);

  const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (out < 0) throw std::runtime_error("cannot open " + outputFile.string());
  if (inputPipe) {
    // A program that ends before reading its input must not end the test.
    std::signal(SIGPIPE, SIG_IGN);
  }
  int pipeFds[2] = {-1, -1};
  if (inputPipe && pipe2(pipeFds, O_CLOEXEC) != 0) {
    close(out);
    throw std::runtime_error("cannot make a pipe");
  }
  const int in = inputPipe ? pipeFds[0] : open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    // Dies with the test process, whatever way the test process ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // The program starts with default signal handling, whatever the test set.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    execve(exe.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  const int forkErrno = errno;
  close(out);
  if (in >= 0) close(in);
  input_ = pipeFds[1];
  if (pid_ < 0) {
    CloseInput();
    throw std::runtime_error(std::string("fork failed: ") + std::strerror(forkErrno));
  }
  setpgid(pid_, pid_);  // also from this side, so Signal() never races the child's setpgid
}

Process::~Process() {
  if (pid_ > 0 && !exitCode_) Stop(std::chrono::seconds(5));
  CloseInput();
}

bool Process::WriteInput(const std::string& text) {
  std::size_t done = 0;
  while (input_ >= 0 && done < text.size()) {
    const ssize_t n = write(input_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return input_ >= 0;
}

void Process::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

void Process::Reap(int status) {
  if (WIFEXITED(status)) {
    exitCode_ = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    exitCode_ = 128 + WTERMSIG(status);
  }
  // Helpers the program left behind in its group go too.
  kill(-pid_, SIGKILL);
}

bool Process::Running() {
  if (exitCode_) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    Reap(status);
    return false;
  }
  return r == 0;
}

void Process::Signal(int signal) {
  if (!exitCode_) kill(-pid_, signal);
}

std::optional<int> Process::WaitExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (!Running()) return exitCode_;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int Process::Stop(std::chrono::milliseconds grace) {
  if (exitCode_) return *exitCode_;
  Signal(SIGTERM);
  if (auto code = WaitExit(grace)) return *code;
  kill(-pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  Reap(status);
  return exitCode_.value_or(-1);
}

std::string Process::Output() const {
  std::ifstream in(output_, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace pv::e2e
