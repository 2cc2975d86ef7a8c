// Feeds arbitrary bytes, cut into arbitrary reads, through the link's receive
// path. Checks that nothing is lost or invented by the framing, that no
// message holds the delimiter, that the text reaching handlers is valid
// UTF-8, and that the pending bytes stay bounded by the guard.
#include <asio/io_context.hpp>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/cp1252.h"
#include "link/link_session.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Cuts the input into reads whose sizes come from the input itself.
template <typename F>
void ForEachRead(const std::uint8_t* data, std::size_t size, std::size_t maxRead, F read) {
  std::size_t at = 0;
  while (at < size) {
    std::size_t n = 1 + data[at] % maxRead;
    ++at;
    n = std::min(n, size - at);
    read(std::string_view(reinterpret_cast<const char*>(data) + at, n));
    at += n;
  }
}

void FuzzFramer(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kLimit = 256;
  constexpr std::size_t kMaxRead = 64;
  pv::link::ReceiveFramer framer(kLimit);
  std::size_t fed = 0, cut = 0;
  std::string message;
  ForEachRead(data, size, kMaxRead, [&](std::string_view bytes) {
    framer.Append(bytes);
    fed += bytes.size();
    while (framer.Next(message)) {
      Check(message.find(pv::link::kDelimiter) == std::string::npos);
      cut += message.size() + pv::link::kDelimiter.size();
    }
    Check(cut + framer.pending() == fed);
    Check(framer.pending() <= kLimit + kMaxRead);
    if (framer.Overflowed()) {
      framer.Clear();
      fed = cut = 0;
    }
  });
}

void FuzzSession(const std::uint8_t* data, std::size_t size) {
  static asio::io_context io;
  pv::link::LinkSession* self = nullptr;
  pv::link::LinkHooks hooks;
  hooks.onMessage = [&](const std::string& m) {
    Check(pv::common::IsValidUtf8(m));
    if (m.empty()) return;
    switch (m[0]) {
      case 'D':
        self->DisconnectLink(false);
        break;
      case 'C':
        self->ClearLinkBuffers();
        break;
      case 'S':
        self->SendMessage(m, m.size() % 2 == 0, m.size() % 3 == 0);
        break;
      default:
        break;
    }
  };
  hooks.log = [](const std::string&, long, const std::string&) {};
  pv::link::LinkSession session(io, "127.0.0.1", "9", hooks);
  self = &session;
  ForEachRead(data, size, 4096, [&](std::string_view bytes) {
    session.ReceiveBytes(bytes);
    Check(session.receiveBufferLength() <= pv::link::kMaxPendingBytes);
    Check(!session.connected());
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzFramer(data, size);
  FuzzSession(data, size);
  return 0;
}
