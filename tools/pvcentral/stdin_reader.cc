#include "tools/pvcentral/stdin_reader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace pv::central {
namespace {

constexpr std::size_t kMaxLine = 1 << 20;

}  // namespace

StdinReader::StdinReader(std::function<void(std::string)> onLine, std::function<void()> onEnd)
    : onLine_(std::move(onLine)), onEnd_(std::move(onEnd)) {}

StdinReader::~StdinReader() { Stop(); }

void StdinReader::Start() {
  thread_ = std::thread([this] { Run(); });
}

void StdinReader::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void StdinReader::Run() {
  std::string pending;
  bool skipping = false;  // inside a line that was too long
  char buf[4096];
  while (!stop_) {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int r = poll(&p, 1, 200);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) break;
    if (r == 0) continue;
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;  // end of input: the simulator keeps running
    pending.append(buf, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1) {
      if (!skipping) onLine_(pending.substr(start, nl - start));
      skipping = false;
    }
    pending.erase(0, start);
    if (pending.size() > kMaxLine) {
      pending.clear();
      if (!skipping) onLine_("");  // reported as a malformed command
      skipping = true;
    }
  }
  if (!stop_ && onEnd_) onEnd_();
}

}  // namespace pv::central
