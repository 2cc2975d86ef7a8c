// Receive-path throughput: N messages of 20 bytes (each followed by the
// delimiter) delivered in one read and in 7-byte reads, through the link's
// real receive path (framing, text conversion, dispatch hook). Prints the
// time per message for N/10 and N and their ratio, and the rate of each
// case (thread CPU time, best of five runs).
//
//   pv_bench_framing [N]      (default 1000000; compares N/10 with N)
#include <algorithm>
#include <asio/io_context.hpp>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "link/link_session.h"

namespace {

// CPU time of this thread: on a machine shared with other work, time spent
// waiting for a core is not the receive path's.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string Stream(std::size_t count) {
  std::string one = "+OK UPDA 12345678901";  // 20 bytes
  std::string out;
  out.reserve(count * (one.size() + pv::link::kDelimiter.size()));
  for (std::size_t i = 0; i < count; ++i) {
    out += one;
    out += pv::link::kDelimiter;
  }
  return out;
}

// Seconds for one pass of `stream` through a fresh session.
double RunOnce(const std::string& stream, std::size_t readSize, std::size_t expected) {
  asio::io_context io;
  std::size_t count = 0, bytes = 0;
  pv::link::LinkHooks hooks;
  hooks.onMessage = [&](const std::string& m) {
    ++count;
    bytes += m.size();
  };
  pv::link::LinkSession session(io, "127.0.0.1", "9", hooks);
  double start = CpuSeconds();
  if (readSize == 0) {
    session.ReceiveBytes(stream);
  } else {
    std::string_view all(stream);
    for (std::size_t at = 0; at < all.size(); at += readSize) {
      session.ReceiveBytes(all.substr(at, readSize));
    }
  }
  double s = CpuSeconds() - start;
  if (count != expected || bytes != expected * 20) {
    std::fprintf(stderr, "wrong result: %zu messages\n", count);
    std::exit(2);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t big = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
  std::size_t small = big / 10;
  std::string bigStream = Stream(big), smallStream = Stream(small);
  bool ok = true;
  for (std::size_t readSize : {std::size_t{0}, std::size_t{7}}) {
    // Best of five, the two sizes taking turns so that a busy machine
    // hurts both alike.
    double a = 1e30, b = 1e30;
    for (int round = 0; round < 5; ++round) {
      a = std::min(a, RunOnce(smallStream, readSize, small));
      b = std::min(b, RunOnce(bigStream, readSize, big));
    }
    double perA = a / static_cast<double>(small) * 1e9;
    double perB = b / static_cast<double>(big) * 1e9;
    double ratio = perB / perA;
    double mbps = static_cast<double>(bigStream.size()) / b / 1e6;
    std::printf(
        "%-12s %8zu msgs: %7.1f ns/msg   %8zu msgs: %7.1f ns/msg   ratio %.2f   %7.1f MB/s\n",
        readSize == 0 ? "one read" : "7-byte reads", small, perA, big, perB, ratio, mbps);
    if (ratio > 1.3) ok = false;
    if (readSize == 0 && mbps < 100) ok = false;
  }
  std::printf("%s\n", ok ? "targets met (ratio <= 1.3, one read >= 100 MB/s)" : "TARGETS MISSED");
  return ok ? 0 : 1;
}
