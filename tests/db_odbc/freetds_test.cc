// FreeTDS through unixODBC: what the driver receives from the connection
// fields, and how a failed connection reads. No SQL Server is needed: a
// closed loopback port, and a loopback listener that answers the first
// login packet far enough to read it.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "db/connection.h"
#include "db/error.h"
#include "db/odbc/odbc_connection.h"

namespace pv::db::odbc {
namespace {

using asio::ip::tcp;

constexpr const char* kFreeTds = "FreeTDS";

std::uint16_t ClosedLoopbackPort() {
  asio::io_context io;
  tcp::acceptor a(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
  const auto port = a.local_endpoint().port();
  a.close();
  return port;
}

// What a LOGIN7 packet carries, as FreeTDS sent it.
struct Login {
  std::u16string user;
  std::u16string password;
  std::u16string database;
};

std::vector<std::uint8_t> ReadPacket(tcp::socket& s) {
  std::vector<std::uint8_t> header(8);
  asio::read(s, asio::buffer(header));
  const std::size_t length = (static_cast<std::size_t>(header[2]) << 8) | header[3];
  std::vector<std::uint8_t> body(length > 8 ? length - 8 : 0);
  asio::read(s, asio::buffer(body));
  return body;
}

std::u16string Field(const std::vector<std::uint8_t>& login, std::size_t at, bool password) {
  const std::size_t offset = login.at(at) | (login.at(at + 1) << 8);
  const std::size_t chars = login.at(at + 2) | (login.at(at + 3) << 8);
  std::u16string out;
  for (std::size_t i = 0; i < chars; ++i) {
    std::uint8_t lo = login.at(offset + 2 * i);
    std::uint8_t hi = login.at(offset + 2 * i + 1);
    if (password) {  // each byte: nibbles swapped, then XOR 0xA5
      lo ^= 0xA5;
      hi ^= 0xA5;
      lo = static_cast<std::uint8_t>((lo << 4) | (lo >> 4));
      hi = static_cast<std::uint8_t>((hi << 4) | (hi >> 4));
    }
    out.push_back(static_cast<char16_t>(lo | (hi << 8)));
  }
  return out;
}

// Accepts one connection, answers the pre-login packet (no encryption) and
// reads the login packet, then drops the connection.
class LoginCatcher {
 public:
  LoginCatcher() : acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
    port_ = acceptor_.local_endpoint().port();
    thread_ = std::thread([this] { Run(); });
  }
  ~LoginCatcher() {
    asio::error_code ec;
    acceptor_.close(ec);
    if (thread_.joinable()) thread_.join();
  }
  std::uint16_t port() const { return port_; }
  std::optional<Login> Wait() {
    if (result_.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
      return std::nullopt;
    return result_.get();
  }

 private:
  void Run() {
    std::optional<Login> login;
    try {
      tcp::socket s(io_);
      acceptor_.accept(s);
      ReadPacket(s);  // pre-login
      // Reply: VERSION and ENCRYPTION options; encryption not supported.
      const std::vector<std::uint8_t> payload = {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01,
                                                 0x00, 0x11, 0x00, 0x01, 0xFF, 0x0F,
                                                 0x00, 0x07, 0xD0, 0x00, 0x00, 0x02};
      std::vector<std::uint8_t> reply = {
          0x04, 0x01, 0x00, static_cast<std::uint8_t>(8 + payload.size()), 0x00, 0x00, 0x01, 0x00};
      reply.insert(reply.end(), payload.begin(), payload.end());
      asio::write(s, asio::buffer(reply));
      const std::vector<std::uint8_t> body = ReadPacket(s);
      login = Login{Field(body, 40, false), Field(body, 44, true), Field(body, 68, false)};
    } catch (const std::exception&) {
    }
    promise_.set_value(login);
  }

  asio::io_context io_;
  tcp::acceptor acceptor_;
  std::uint16_t port_ = 0;
  std::promise<std::optional<Login>> promise_;
  std::future<std::optional<Login>> result_ = promise_.get_future();
  std::thread thread_;
};

TEST(OdbcFreeTds, RefusedConnectionFailsQuicklyWithNumberAndText) {
  auto c = MakeOdbcConnection(kFreeTds);
  ConnectionParams p{"127.0.0.1", std::to_string(ClosedLoopbackPort()), "sa", "pw", "Portavento"};
  const auto start = std::chrono::steady_clock::now();
  try {
    c->Open(p);
    FAIL() << "connected to a closed port";
  } catch (const DbError& e) {
    EXPECT_EQ(e.number(), 20009) << e.description();
    EXPECT_NE(e.description().find("Unable to connect"), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("SQLSTATE 08"), std::string::npos) << e.description();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(c->IsOpen());
  EXPECT_THROW(c->Execute("Select 1"), DbError);
}

TEST(OdbcFreeTds, DriverReceivesTheValuesExactly) {
  struct Case {
    std::string user, password, database;
    std::u16string wantUser, wantPassword, wantDatabase;
  };
  const std::vector<Case> cases = {
      // The blank the ADO text puts after "user id=" and stray blanks elsewhere are gone.
      {" sa", "secret ", " Portavento ", u"sa", u"secret", u"Portavento"},
      // Separators and braces inside values arrive as they are.
      {"sa", "p;w{d}x", "Home;1", u"sa", u"p;w{d}x", u"Home;1"},
      {"sa", "ends}", "{db}", u"sa", u"ends}", u"{db}"},
      {"sa", "", "d", u"sa", u"", u"d"},
  };
  for (const Case& k : cases) {
    LoginCatcher catcher;
    auto c = MakeOdbcConnection(kFreeTds);
    ConnectionParams p{"127.0.0.1", std::to_string(catcher.port()), k.user, k.password, k.database};
    EXPECT_THROW(c->Open(p), DbError);  // the catcher drops the login
    const std::optional<Login> login = catcher.Wait();
    ASSERT_TRUE(login.has_value()) << "no login packet for password " << k.password;
    EXPECT_TRUE(login->user == k.wantUser) << k.user;
    EXPECT_TRUE(login->password == k.wantPassword) << k.password;
    EXPECT_TRUE(login->database == k.wantDatabase) << k.database;
  }
}

}  // namespace
}  // namespace pv::db::odbc
