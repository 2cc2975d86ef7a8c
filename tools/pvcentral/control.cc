#include "tools/pvcentral/control.h"

#include <array>
#include <charconv>
#include <functional>
#include <iostream>

#include "platform/file_writes.h"
#include "platform/files.h"
#include "platform/utf8_paths.h"

namespace pv::central {
namespace {

// A command line longer than this is refused (the longest useful one is a raw
// message of a few kilobytes).
constexpr std::size_t kMaxCommandLine = 1 << 20;
// A controller that has not sent its whole command line by then is dropped.
constexpr auto kCommandDeadline = std::chrono::seconds(30);

}  // namespace

struct ControlServer::Connection {
  explicit Connection(asio::ip::tcp::socket s)
      : socket(std::move(s)), deadline(socket.get_executor()), input(kMaxCommandLine) {}
  asio::ip::tcp::socket socket;
  asio::steady_timer deadline;
  asio::streambuf input;
  std::string answer;
};

ControlServer::ControlServer(asio::io_context& io, Console& console)
    : io_(io), console_(console), acceptor_(io) {}

void ControlServer::Listen() {
  const asio::ip::tcp::endpoint ep(asio::ip::address_v4::loopback(), 0);
  acceptor_.open(ep.protocol());
  acceptor_.bind(ep);
  acceptor_.listen();
  port_ = acceptor_.local_endpoint().port();
  Accept();
}

void ControlServer::Accept() {
  acceptor_.async_accept([this](std::error_code ec, asio::ip::tcp::socket socket) {
    if (shutDown_ || !acceptor_.is_open()) return;
    if (!ec) Serve(std::make_shared<Connection>(std::move(socket)));
    if (ec) {
      auto retry = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(200));
      retry->async_wait([this, retry](std::error_code) {
        if (!shutDown_) Accept();
      });
      return;
    }
    Accept();
  });
}

void ControlServer::Serve(const std::shared_ptr<Connection>& c) {
  c->deadline.expires_after(kCommandDeadline);
  c->deadline.async_wait([c](std::error_code ec) {
    if (ec) return;  // cancelled: the command line arrived
    std::error_code ignored;
    c->socket.close(ignored);
  });
  asio::async_read_until(c->socket, c->input, '\n', [this, c](std::error_code ec, std::size_t n) {
    c->deadline.cancel();
    auto answer = [c](bool ok, const std::string& text) {
      if (ok) {
        c->answer = text.empty() ? std::string() : text + "\n";
        c->answer += "ok\n";
      } else {
        c->answer = "error: " + text + "\n";
      }
      asio::async_write(c->socket, asio::buffer(c->answer), [c](std::error_code, std::size_t) {
        std::error_code ignored;
        c->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        c->socket.close(ignored);
      });
    };
    if (ec == asio::error::not_found) {
      answer(false, "command line too long");
      return;
    }
    if (ec || shutDown_) return;
    const auto begin = asio::buffers_begin(c->input.data());
    std::string line(begin, begin + static_cast<std::ptrdiff_t>(n - 1));
    console_.Execute(line, answer);
  });
}

void ControlServer::Shutdown() {
  shutDown_ = true;
  std::error_code ignored;
  acceptor_.close(ignored);
}

unsigned short ReadPortFile(const std::filesystem::path& file) {
  // A port number and a line break; anything bigger is not a port file.
  const platform::SmallFile read = platform::ReadSmallFile(platform::Utf8FromPath(file), 64);
  if (!read.read()) return 0;
  const std::string text = read.text.substr(0, read.text.find_first_of("\r\n"));
  unsigned port = 0;
  const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (ec != std::errc() || port == 0 || port > 65535) return 0;
  return static_cast<unsigned short>(port);
}

bool WritePortFile(const std::filesystem::path& file, unsigned short port) {
  return platform::ReplaceFileAtomically(platform::Utf8FromPath(file), std::to_string(port) + "\n",
                                         0644);
}

int RunControlClient(const std::filesystem::path& stateDir, const std::string& command,
                     double timeoutSeconds) {
  const unsigned short port = ReadPortFile(stateDir / kControlPortFileName);
  if (port == 0) {
    std::cerr << "pvcentral: no simulator runs with the state folder " << stateDir << " (no "
              << kControlPortFileName << ")\n";
    return 2;
  }
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  std::string request = command;
  for (char& ch : request) {
    if (ch == '\n' || ch == '\r') ch = ' ';  // one command, one line
  }
  request += '\n';
  std::string answer;
  std::array<char, 4096> chunk{};
  std::error_code failure;
  bool finished = false;

  std::function<void()> readMore = [&] {
    socket.async_read_some(asio::buffer(chunk), [&](std::error_code ec, std::size_t n) {
      answer.append(chunk.data(), n);
      if (ec) {
        if (ec != asio::error::eof) failure = ec;
        finished = true;
        return;
      }
      readMore();
    });
  };
  socket.async_connect({asio::ip::address_v4::loopback(), port}, [&](std::error_code ec) {
    if (ec) {
      failure = ec;
      finished = true;
      return;
    }
    asio::async_write(socket, asio::buffer(request), [&](std::error_code wec, std::size_t) {
      if (wec) {
        failure = wec;
        finished = true;
        return;
      }
      readMore();
    });
  });
  if (timeoutSeconds > 0) {
    io.run_for(std::chrono::milliseconds(static_cast<long long>(timeoutSeconds * 1000)));
  } else {
    io.run();
  }
  if (!finished) {
    std::cerr << "pvcentral: no answer within " << timeoutSeconds << " s\n";
    return 2;
  }
  if (failure && answer.empty()) {
    std::cerr << "pvcentral: cannot reach the simulator on control port " << port << ": "
              << failure.message() << "\n";
    return 2;
  }
  // The last line says how the command went; the lines before it are output.
  if (!answer.empty() && answer.back() == '\n') answer.pop_back();
  const std::size_t cut = answer.rfind('\n');
  const std::string status = cut == std::string::npos ? answer : answer.substr(cut + 1);
  const std::string output = cut == std::string::npos ? std::string() : answer.substr(0, cut + 1);
  std::cout << output;
  std::cout.flush();
  if (status == "ok") return 0;
  if (status.rfind("error: ", 0) == 0) {
    std::cerr << "pvcentral: " << status.substr(7) << "\n";
    return 1;
  }
  std::cerr << "pvcentral: the simulator closed the connection without an answer\n";
  return 2;
}

}  // namespace pv::central
