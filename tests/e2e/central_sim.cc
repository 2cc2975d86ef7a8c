#include "tests/e2e/central_sim.h"

#include <array>
#include <asio.hpp>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "tests/e2e/programs.h"

namespace pv::e2e {
namespace {

unsigned short ReadPort(const std::filesystem::path& file) {
  std::ifstream in(file);
  unsigned port = 0;
  if (!(in >> port) || port == 0 || port > 65535) return 0;
  return static_cast<unsigned short>(port);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

}  // namespace

std::string UnescapeLogText(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    const char e = text[++i];
    if (e == 'r') {
      out += '\r';
    } else if (e == 'n') {
      out += '\n';
    } else if (e == 't') {
      out += '\t';
    } else if (e == 'x' && i + 2 < text.size()) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += e;
    }
  }
  return out;
}

CentralSim::CentralSim(const TempRoot& root, Config config, std::chrono::milliseconds startTimeout)
    : config_(std::move(config)), stateDir_(root.path() / "central") {
  std::filesystem::create_directories(stateDir_);
  std::vector<std::string> args{"--port", "0", "--no-stdin"};
  for (const auto& [option, value] : std::vector<std::pair<const char*, std::string>>{
           {"--state", stateDir_.string()},
           {"--data-root", root.DataRoot().string()},
           {"--central-server", config_.instance.server},
           {"--central-port", config_.instance.port},
           {"--central-user", config_.instance.user},
           {"--central-password", config_.instance.password},
           {"--home-database", config_.homeDatabase}}) {
    args.insert(args.end(), {option, value});
  }
  if (config_.quiet) args.push_back("--quiet");
  args.insert(args.end(), config_.extraArgs.begin(), config_.extraArgs.end());
  process_ = std::make_unique<Process>(
      PvcentralProgram(), args,
      std::map<std::string, std::string>{{"PVREMOTE_ROOT", root.path().string()}},
      stateDir_ / "output.txt");
  const bool up = WaitUntil(
      [&] {
        port_ = ReadPort(stateDir_ / "pvcentral.port");
        controlPort_ = ReadPort(stateDir_ / "control.port");
        return (port_ != 0 && controlPort_ != 0) || !process_->Running();
      },
      startTimeout);
  if (!up || port_ == 0 || controlPort_ == 0) {
    process_->Stop();
    throw std::runtime_error("pvcentral did not start; its output:\n" + process_->Output());
  }
}

CentralSim::~CentralSim() {
  if (process_) process_->Stop();
}

int CentralSim::Stop() { return process_->Stop(); }

ControlAnswer CentralSim::Command(const std::string& line, std::chrono::milliseconds timeout) {
  asio::io_context io;
  asio::ip::tcp::socket socket(io);
  const std::string request = line + "\n";
  std::string answer;
  std::array<char, 4096> chunk{};
  bool finished = false;
  std::function<void()> readMore = [&] {
    socket.async_read_some(asio::buffer(chunk), [&](std::error_code ec, std::size_t n) {
      answer.append(chunk.data(), n);
      if (ec) {
        finished = true;
        return;
      }
      readMore();
    });
  };
  socket.async_connect({asio::ip::address_v4::loopback(), controlPort_}, [&](std::error_code ec) {
    if (ec) {
      finished = true;
      return;
    }
    asio::async_write(socket, asio::buffer(request), [&](std::error_code wec, std::size_t) {
      if (wec) {
        finished = true;
        return;
      }
      readMore();
    });
  });
  io.run_for(timeout);
  if (!finished) return {false, "no answer from pvcentral within the time-out"};
  if (!answer.empty() && answer.back() == '\n') answer.pop_back();
  const std::size_t cut = answer.rfind('\n');
  const std::string status = cut == std::string::npos ? answer : answer.substr(cut + 1);
  const std::string output = cut == std::string::npos ? std::string() : answer.substr(0, cut);
  if (status == "ok") return {true, output};
  if (status.rfind("error: ", 0) == 0) return {false, status.substr(7)};
  return {false, "pvcentral closed the control connection without an answer"};
}

std::string CentralSim::LogText() const {
  std::ifstream in(stateDir_ / "pvcentral.log", std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<CentralLogLine> CentralSim::LogLines() const {
  std::vector<CentralLogLine> lines;
  std::istringstream in(LogText());
  std::string raw;
  // "2026-12-04 13:05:09.123 [3] <- NWID ..."; the time stamp is 23 characters.
  while (std::getline(in, raw)) {
    if (raw.size() < 28 || raw[24] != '[') continue;  // an unfinished last line
    const std::size_t close = raw.find("] ", 25);
    if (close == std::string::npos) continue;
    CentralLogLine l;
    const std::string conn = raw.substr(25, close - 25);
    l.connection = conn == "-" ? 0 : std::atoi(conn.c_str());
    std::string rest = raw.substr(close + 2);
    if (rest.rfind("<- ", 0) == 0) {
      l.kind = CentralLogLine::Kind::Received;
      rest.erase(0, 3);
    } else if (rest.rfind("-> ", 0) == 0) {
      l.kind = CentralLogLine::Kind::Sent;
      rest.erase(0, 3);
    }
    l.text = UnescapeLogText(rest);
    lines.push_back(std::move(l));
  }
  return lines;
}

std::vector<std::string> CentralSim::Received() const {
  std::vector<std::string> out;
  for (const CentralLogLine& l : LogLines()) {
    if (l.kind == CentralLogLine::Kind::Received) out.push_back(l.text);
  }
  return out;
}

std::vector<std::string> CentralSim::Sent() const {
  std::vector<std::string> out;
  for (const CentralLogLine& l : LogLines()) {
    if (l.kind == CentralLogLine::Kind::Sent) out.push_back(l.text);
  }
  return out;
}

std::optional<std::size_t> CentralSim::WaitReceived(const std::string& prefix,
                                                    std::chrono::milliseconds timeout,
                                                    std::size_t from) const {
  std::optional<std::size_t> found;
  WaitUntil(
      [&] {
        const auto received = Received();
        for (std::size_t i = from; i < received.size(); ++i) {
          if (received[i].rfind(prefix, 0) == 0) {
            found = i;
            return true;
          }
        }
        return false;
      },
      timeout, std::chrono::milliseconds(25));
  return found;
}

}  // namespace pv::e2e
