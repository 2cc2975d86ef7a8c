// A stand-in for SQL Server on loopback that speaks just enough of TDS 7.4
// for the FreeTDS driver: it answers the pre-login (no encryption) and
// accepts any login (recording user, password and database), then answers
// each SQL batch or RPC with whatever the test's script returns, and
// acknowledges cancels. It serves one connection after another until it is
// destroyed. Nothing of the service is involved: the driver and the driver
// manager are the real ones.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pv::db::odbc::testing {

using TdsBytes = std::vector<std::uint8_t>;

// Token streams for replies, little-endian as TDS has them.
namespace tds {

inline void Put(TdsBytes& b, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void PutUtf16(TdsBytes& b, std::u16string_view s) {
  for (char16_t c : s) Put(b, c, 2);
}
// B_VARCHAR: the length in characters (one byte), then UTF-16LE.
inline void PutBVarChar(TdsBytes& b, std::u16string_view s) {
  b.push_back(static_cast<std::uint8_t>(s.size()));
  PutUtf16(b, s);
}
inline TdsBytes Join(std::initializer_list<TdsBytes> parts) {
  TdsBytes out;
  for (const TdsBytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
// A token with a two-byte length before its data.
inline TdsBytes LengthToken(std::uint8_t token, const TdsBytes& data) {
  TdsBytes out{token};
  Put(out, data.size(), 2);
  return Join({out, data});
}

// A DONE token's status bits.
enum : std::uint16_t { kDoneMore = 1, kDoneError = 2, kDoneCount = 0x10, kDoneAttention = 0x20 };

inline TdsBytes Done(std::uint16_t status, std::uint64_t count = 0) {
  TdsBytes b{0xFD};
  Put(b, status, 2);
  Put(b, 0xC1, 2);
  Put(b, count, 8);
  return b;
}

// An error of class 16 (one the user can correct), or with `error` false an
// informational message (PRINT output and the like).
inline TdsBytes Message(std::int32_t number, std::u16string_view text, bool error = true) {
  TdsBytes d;
  Put(d, static_cast<std::uint32_t>(number), 4);
  d.insert(d.end(), {1, static_cast<std::uint8_t>(error ? 16 : 0)});  // state, class
  Put(d, text.size(), 2);
  PutUtf16(d, text);
  PutBVarChar(d, u"peer");
  PutBVarChar(d, u"");
  Put(d, 1, 4);  // line
  return LengthToken(error ? 0xAA : 0xAB, d);
}

inline TdsBytes DatabaseChange(std::u16string_view now, std::u16string_view before) {
  TdsBytes d{0x01};
  PutBVarChar(d, now);
  PutBVarChar(d, before);
  return LengthToken(0xE3, d);
}

// Result sets: a COLMETADATA token, then one ROW token a row, each holding
// its cells in column order as Int, Decimal, Time, Text, Bytes or Null make them.
// int, decimal(9,2), time(7), nvarchar(max), varbinary(max)
enum class Col { Int, Decimal, Time, Text, Bytes };

inline TdsBytes Columns(std::initializer_list<std::pair<std::u16string, Col>> columns) {
  TdsBytes b{0x81};
  Put(b, columns.size(), 2);
  for (const auto& [name, type] : columns) {
    Put(b, 0, 4);  // user type
    Put(b, 1, 2);  // nullable
    static const TdsBytes kTypeInfo[] = {
        {0x26, 4},
        {0x6A, 5, 9, 2},
        {0x29, 7},
        {0xE7, 0xFF, 0xFF, 0x09, 0x04, 0xD0, 0x00, 0x34},  // with its collation
        {0xA5, 0xFF, 0xFF}};
    const TdsBytes& info = kTypeInfo[static_cast<int>(type)];
    b.insert(b.end(), info.begin(), info.end());
    PutBVarChar(b, name);
  }
  return b;
}
inline TdsBytes Row(std::initializer_list<TdsBytes> cells) { return Join({{0xD1}, Join(cells)}); }

inline TdsBytes Int(std::int32_t v) {
  TdsBytes b{4};
  Put(b, static_cast<std::uint32_t>(v), 4);
  return b;
}
inline TdsBytes Decimal(std::int32_t hundredths) {
  TdsBytes b{5, static_cast<std::uint8_t>(hundredths >= 0)};
  Put(b, static_cast<std::uint32_t>(hundredths >= 0 ? hundredths : -hundredths), 4);
  return b;
}
inline TdsBytes Time(int h, int m, int s, std::int64_t units100ns) {
  TdsBytes b{5};
  Put(b, static_cast<std::uint64_t>((h * 3600 + m * 60 + s) * 10000000LL + units100ns), 5);
  return b;
}
// Partially length-prefixed: the total, chunks of at most 8000 bytes, a zero chunk.
inline TdsBytes Bytes(const TdsBytes& data) {
  TdsBytes b;
  Put(b, data.size(), 8);
  for (std::size_t at = 0; at < data.size(); at += 8000) {
    const std::size_t n = std::min<std::size_t>(8000, data.size() - at);
    Put(b, n, 4);
    b.insert(b.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
             data.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  Put(b, 0, 4);
  return b;
}
inline TdsBytes Text(std::u16string_view text) {
  TdsBytes utf16;
  PutUtf16(utf16, text);
  return Bytes(utf16);
}
inline TdsBytes Null(Col type) {
  return type == Col::Text || type == Col::Bytes ? TdsBytes(8, 0xFF) : TdsBytes{0};
}

}  // namespace tds

// What the script answers a request with: tokens, sent as they are; no
// tokens, as if the statement ran on; or nothing, and the server goes away.
using TdsReply = std::optional<TdsBytes>;

struct TdsRequest {
  std::uint8_t type = 0;  // 1 SQL batch, 3 RPC
  std::u16string sql;     // the text of a SQL batch
  TdsBytes body;          // the whole message after its packet headers
};

struct TdsLogin {
  std::u16string user, password, database;
};

class TdsPeer {
 public:
  using Script = std::function<TdsReply(const TdsRequest&)>;

  explicit TdsPeer(Script script) : script_(std::move(script)) {
    Accept();
    thread_ = std::thread([this] { io_.run(); });
  }
  ~TdsPeer() {
    io_.stop();
    thread_.join();
  }
  TdsPeer(const TdsPeer&) = delete;
  TdsPeer& operator=(const TdsPeer&) = delete;

  std::uint16_t port() const { return acceptor_.local_endpoint().port(); }
  std::vector<TdsLogin> logins() const {
    return Locked([&] { return logins_; });
  }
  std::vector<TdsRequest> requests() const {
    return Locked([&] { return requests_; });
  }
  int cancels() const {
    return Locked([&] { return cancels_; });
  }

 private:
  template <typename F>
  auto Locked(F f) const -> decltype(f()) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f();
  }

  void Accept() {
    loggedIn_ = preLoginDone_ = false;
    message_.clear();
    acceptor_.async_accept(socket_, [this](const asio::error_code& ec) {
      if (!ec) ReadPacket();
    });
  }

  // A packet's 8-byte header, then its body; the message is handled once its
  // last packet is in.
  void ReadPacket() {
    asio::async_read(socket_, asio::buffer(header_), [this](asio::error_code ec, std::size_t) {
      if (ec) return Disconnect();
      packet_.resize(std::max((header_[2] << 8) | header_[3], 8) - 8);
      asio::async_read(socket_, asio::buffer(packet_), [this](asio::error_code ec, std::size_t) {
        if (ec) return Disconnect();
        message_.insert(message_.end(), packet_.begin(), packet_.end());
        if (header_[1] & 0x01) {
          Handle(header_[0]);
          message_.clear();
          if (!socket_.is_open()) return;
        }
        ReadPacket();
      });
    });
  }

  // `chars` UTF-16LE characters at `offset`; a login's password has each
  // byte XORed with 0xA5 and its nibbles swapped.
  std::u16string ReadUtf16(std::size_t offset, std::size_t chars, bool password = false) const {
    auto byte = [&](std::size_t i) -> unsigned {
      const unsigned b = message_[i] ^ (password ? 0xA5 : 0);
      return password ? ((b << 4) | (b >> 4)) & 0xFF : b;
    };
    std::u16string out;
    for (std::size_t i = offset; i + 1 < message_.size() && out.size() < chars; i += 2) {
      out.push_back(static_cast<char16_t>(byte(i) | (byte(i + 1) << 8)));
    }
    return out;
  }
  // A LOGIN7 field: its offset and length in characters at `at`.
  std::u16string LoginField(std::size_t at, bool password = false) const {
    if (at + 4 > message_.size()) return {};
    return ReadUtf16(message_[at] | (message_[at + 1] << 8),
                     message_[at + 2] | (message_[at + 3] << 8), password);
  }

  void Handle(std::uint8_t type) {
    if (!preLoginDone_) {  // VERSION and ENCRYPTION (not supported)
      Write({0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00, 0x01, 0xFF, 0x0F, 0x00, 0x07,
             0xD0, 0x00, 0x00, 0x02});
      preLoginDone_ = true;
      return;
    }
    if (!loggedIn_) {
      const TdsLogin login{LoginField(40), LoginField(44, true), LoginField(68)};
      Locked([&] { logins_.push_back(login); });
      TdsBytes ack{0x01, 0x74, 0x00, 0x00, 0x04};
      tds::PutBVarChar(ack, u"Peer");
      ack.insert(ack.end(), {0x0F, 0x00, 0x07, 0xD0});
      Write(tds::Join(
          {tds::LengthToken(0xAD, ack),
           tds::DatabaseChange(login.database.empty() ? u"master" : login.database, u"master"),
           tds::Done(0)}));
      loggedIn_ = true;
      return;
    }
    if (type == 0x06) {  // attention: the client cancels what runs
      Locked([&] { ++cancels_; });
      return Write(tds::Done(tds::kDoneAttention));
    }
    TdsRequest request{type, {}, message_};
    if (type == 0x01 && message_.size() >= 4) {  // SQL batch: ALL_HEADERS, then the text
      const std::size_t headers = message_[0] | (message_[1] << 8) | (message_[2] << 16) |
                                  (static_cast<std::size_t>(message_[3]) << 24);
      request.sql = ReadUtf16(headers, (message_.size() - headers) / 2);
    }
    Locked([&] { requests_.push_back(request); });
    const TdsReply reply = script_(request);
    if (!reply) return Disconnect();
    if (!reply->empty()) Write(*reply);
  }

  // A reply message in packets of at most 4096 bytes.
  void Write(const TdsBytes& payload) {
    std::size_t at = 0;
    std::uint8_t id = 1;
    do {
      const std::size_t n = std::min<std::size_t>(4096 - 8, payload.size() - at);
      const bool last = at + n == payload.size();
      // Type, status, the length big-endian, channel, packet id, window.
      TdsBytes packet{0x04, last, 0, 0, 0, 0, id++, 0};
      packet[2] = static_cast<std::uint8_t>((n + 8) >> 8);
      packet[3] = static_cast<std::uint8_t>(n + 8);
      packet.insert(packet.end(), payload.begin() + static_cast<std::ptrdiff_t>(at),
                    payload.begin() + static_cast<std::ptrdiff_t>(at + n));
      asio::error_code ec;
      if (asio::write(socket_, asio::buffer(packet), ec); ec) return;
      at += n;
    } while (at < payload.size());
  }

  void Disconnect() {
    if (!socket_.is_open()) return;
    asio::error_code ec;
    socket_.close(ec);
    Accept();
  }

  Script script_;
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_{io_, {asio::ip::address_v4::loopback(), 0}};
  asio::ip::tcp::socket socket_{io_};
  std::uint8_t header_[8] = {};
  TdsBytes packet_, message_;
  bool preLoginDone_ = false, loggedIn_ = false;
  mutable std::mutex mutex_;
  std::vector<TdsLogin> logins_;
  std::vector<TdsRequest> requests_;
  int cancels_ = 0;
  std::thread thread_;
};

}  // namespace pv::db::odbc::testing
