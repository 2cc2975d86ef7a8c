#include "tds_peer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace pv::db::odbc::testing {

namespace {

using asio::ip::tcp;

constexpr std::size_t kPacketSize = 4096;
constexpr std::uint8_t kCollation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

void Put16(TdsBytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutLe(TdsBytes& b, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutUtf16(TdsBytes& b, const std::u16string& s) {
  for (char16_t c : s) Put16(b, static_cast<std::uint16_t>(c));
}
// B_VARCHAR: length in characters (one byte), then UTF-16LE.
void PutBVarChar(TdsBytes& b, const std::u16string& s) {
  b.push_back(static_cast<std::uint8_t>(s.size()));
  PutUtf16(b, s);
}
// A token with a two-byte length before its data.
TdsBytes LengthToken(std::uint8_t token, const TdsBytes& data) {
  TdsBytes out{token};
  Put16(out, static_cast<std::uint16_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::u16string ReadUtf16(const TdsBytes& b, std::size_t offset, std::size_t chars, bool password) {
  std::u16string out;
  for (std::size_t i = 0; i < chars && offset + 2 * i + 1 < b.size(); ++i) {
    std::uint8_t lo = b[offset + 2 * i];
    std::uint8_t hi = b[offset + 2 * i + 1];
    if (password) {  // each byte: XOR 0xA5, then nibbles swapped
      lo ^= 0xA5;
      hi ^= 0xA5;
      lo = static_cast<std::uint8_t>((lo << 4) | (lo >> 4));
      hi = static_cast<std::uint8_t>((hi << 4) | (hi >> 4));
    }
    out.push_back(static_cast<char16_t>(lo | (hi << 8)));
  }
  return out;
}

std::u16string LoginField(const TdsBytes& login, std::size_t at, bool password) {
  if (at + 4 > login.size()) return {};
  const std::size_t offset = login[at] | (login[at + 1] << 8);
  const std::size_t chars = login[at + 2] | (login[at + 3] << 8);
  return ReadUtf16(login, offset, chars, password);
}

// Days from 1970-01-01 to the given civil date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void PutPlp(TdsBytes& b, const TdsBytes& data) {
  PutLe(b, data.size(), 8);
  for (std::size_t at = 0; at < data.size(); at += 8000) {
    const std::size_t n = std::min<std::size_t>(8000, data.size() - at);
    PutLe(b, n, 4);
    b.insert(b.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
             data.begin() + static_cast<std::ptrdiff_t>(at + n));
  }
  PutLe(b, 0, 4);
}

TdsBytes Utf16Bytes(const std::u16string& s) {
  TdsBytes b;
  PutUtf16(b, s);
  return b;
}

}  // namespace

TdsPeer::TdsPeer(Script script)
    : script_(std::move(script)),
      acceptor_(io_, tcp::endpoint(asio::ip::address_v4::loopback(), 0)),
      socket_(io_) {
  port_ = acceptor_.local_endpoint().port();
  Accept();
  thread_ = std::thread([this] { io_.run(); });
}

TdsPeer::~TdsPeer() {
  io_.stop();
  if (thread_.joinable()) thread_.join();
}

std::vector<TdsLogin> TdsPeer::logins() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return logins_;
}

std::vector<TdsRequest> TdsPeer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int TdsPeer::cancels() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cancels_;
}

void TdsPeer::Accept() {
  stage_ = 0;
  message_.clear();
  acceptor_.async_accept(socket_, [this](const asio::error_code& ec) {
    if (!ec) ReadHeader();
  });
}

void TdsPeer::ReadHeader() {
  asio::async_read(socket_, asio::buffer(header_), [this](const asio::error_code& ec, std::size_t) {
    if (ec) return Disconnect();
    const std::size_t length = (static_cast<std::size_t>(header_[2]) << 8) | header_[3];
    messageType_ = header_[0];
    ReadBody(length > 8 ? length - 8 : 0, (header_[1] & 0x01) != 0);
  });
}

void TdsPeer::ReadBody(std::size_t length, bool last) {
  packet_.resize(length);
  asio::async_read(socket_, asio::buffer(packet_),
                   [this, last](const asio::error_code& ec, std::size_t) {
                     if (ec) return Disconnect();
                     message_.insert(message_.end(), packet_.begin(), packet_.end());
                     if (last) {
                       const std::uint8_t type = messageType_;
                       Handle(type);
                       message_.clear();
                       if (!socket_.is_open()) return;
                     }
                     ReadHeader();
                   });
}

void TdsPeer::Handle(std::uint8_t type) {
  if (stage_ == 0) {
    // Pre-login answer: VERSION and ENCRYPTION (not supported).
    Write(0x04, {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00, 0x01, 0xFF, 0x0F, 0x00, 0x07,
                 0xD0, 0x00, 0x00, 0x02});
    stage_ = 1;
    return;
  }
  if (stage_ == 1) {
    TdsLogin login{LoginField(message_, 40, false), LoginField(message_, 44, true),
                   LoginField(message_, 68, false)};
    const std::u16string database = login.database.empty() ? u"master" : login.database;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      logins_.push_back(login);
    }
    TdsBytes ack{0x01, 0x74, 0x00, 0x00, 0x04};
    PutBVarChar(ack, u"Peer");
    ack.insert(ack.end(), {0x0F, 0x00, 0x07, 0xD0});
    TdsBytes reply = LengthToken(0xAD, ack);
    const TdsBytes env = tds::DatabaseChange(database, u"master");
    reply.insert(reply.end(), env.begin(), env.end());
    const TdsBytes done = tds::Done(0);
    reply.insert(reply.end(), done.begin(), done.end());
    Write(0x04, reply);
    stage_ = 2;
    return;
  }
  if (type == 0x06) {  // attention: the client cancels what runs
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++cancels_;
    }
    Write(0x04, tds::Done(0x0020));
    return;
  }
  TdsRequest request;
  request.type = type;
  request.body = message_;
  if (type == 0x01 && message_.size() >= 4) {
    const std::size_t headers = message_[0] | (message_[1] << 8) | (message_[2] << 16) |
                                (static_cast<std::size_t>(message_[3]) << 24);
    if (headers <= message_.size()) {
      request.sql = ReadUtf16(message_, headers, (message_.size() - headers) / 2, false);
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
  const TdsReply reply = script_(request);
  switch (reply.kind) {
    case TdsReply::Kind::Tokens:
      Write(0x04, reply.tokens);
      break;
    case TdsReply::Kind::Silent:
      break;
    case TdsReply::Kind::Close:
      Disconnect();
      break;
  }
}

void TdsPeer::Write(std::uint8_t packetType, const TdsBytes& payload) {
  std::size_t at = 0;
  std::uint8_t id = 1;
  do {
    const std::size_t n = std::min(kPacketSize - 8, payload.size() - at);
    const bool last = at + n == payload.size();
    TdsBytes packet{packetType,
                    static_cast<std::uint8_t>(last ? 0x01 : 0x00),
                    static_cast<std::uint8_t>((n + 8) >> 8),
                    static_cast<std::uint8_t>(n + 8),
                    0x00,
                    0x00,
                    id++,
                    0x00};
    packet.insert(packet.end(), payload.begin() + static_cast<std::ptrdiff_t>(at),
                  payload.begin() + static_cast<std::ptrdiff_t>(at + n));
    asio::error_code ec;
    asio::write(socket_, asio::buffer(packet), ec);
    if (ec) return;
    at += n;
  } while (at < payload.size());
}

void TdsPeer::Disconnect() {
  if (!socket_.is_open()) return;
  asio::error_code ec;
  socket_.close(ec);
  Accept();
}

namespace tds {

TdsBytes Done(std::uint16_t status, std::uint64_t count) {
  TdsBytes b{0xFD};
  Put16(b, status);
  Put16(b, 0xC1);
  PutLe(b, count, 8);
  return b;
}

namespace {

TdsBytes Message(std::uint8_t token, std::uint8_t severity, std::int32_t number,
                 const std::u16string& message) {
  TdsBytes d;
  PutLe(d, static_cast<std::uint32_t>(number), 4);
  d.push_back(1);  // state
  d.push_back(severity);
  Put16(d, static_cast<std::uint16_t>(message.size()));
  PutUtf16(d, message);
  PutBVarChar(d, u"peer");
  PutBVarChar(d, u"");
  PutLe(d, 1, 4);  // line
  return LengthToken(token, d);
}

}  // namespace

// Class 16: an error the user can correct.
TdsBytes Error(std::int32_t number, const std::u16string& message) {
  return Message(0xAA, 16, number, message);
}

TdsBytes Info(std::int32_t number, const std::u16string& message) {
  return Message(0xAB, 0, number, message);
}

TdsBytes DatabaseChange(const std::u16string& now, const std::u16string& before) {
  TdsBytes d{0x01};
  PutBVarChar(d, now);
  PutBVarChar(d, before);
  return LengthToken(0xE3, d);
}

ResultSet::Cell ResultSet::Integer(std::int64_t v) {
  Cell c;
  c.null = false;
  c.integer = v;
  return c;
}
ResultSet::Cell ResultSet::Real(double v) {
  Cell c;
  c.null = false;
  c.real = v;
  return c;
}
ResultSet::Cell ResultSet::Text(std::u16string v) {
  Cell c;
  c.null = false;
  c.text = std::move(v);
  return c;
}
ResultSet::Cell ResultSet::Bytes(TdsBytes v) {
  Cell c;
  c.null = false;
  c.bytes = std::move(v);
  return c;
}
ResultSet::Cell ResultSet::When(int y, int mo, int d, int h, int mi, int s, std::int64_t fraction) {
  Cell c;
  c.null = false;
  c.year = y;
  c.month = mo;
  c.day = d;
  c.hour = h;
  c.minute = mi;
  c.second = s;
  c.fraction = fraction;
  return c;
}

ResultSet& ResultSet::Column(const std::u16string& name, Type type) {
  columns_.emplace_back(name, type);
  return *this;
}

ResultSet& ResultSet::Row(std::vector<Cell> cells) {
  rows_.push_back(std::move(cells));
  return *this;
}

TdsBytes ResultSet::Build() const {
  TdsBytes b{0x81};
  Put16(b, static_cast<std::uint16_t>(columns_.size()));
  for (const auto& [name, type] : columns_) {
    PutLe(b, 0, 4);    // user type
    Put16(b, 0x0001);  // nullable
    switch (type) {
      case Type::Int:
        b.insert(b.end(), {0x26, 4});
        break;
      case Type::BigInt:
        b.insert(b.end(), {0x26, 8});
        break;
      case Type::Bit:
        b.insert(b.end(), {0x68, 1});
        break;
      case Type::Float:
        b.insert(b.end(), {0x6D, 8});
        break;
      case Type::Decimal:
        b.insert(b.end(), {0x6A, 5, 9, 2});
        break;
      case Type::DateTime:
        b.insert(b.end(), {0x6F, 8});
        break;
      case Type::Date:
        b.push_back(0x28);
        break;
      case Type::Time:
        b.insert(b.end(), {0x29, 7});
        break;
      case Type::NVarChar:
        b.push_back(0xE7);
        Put16(b, 200);
        b.insert(b.end(), std::begin(kCollation), std::end(kCollation));
        break;
      case Type::NVarCharMax:
        b.push_back(0xE7);
        Put16(b, 0xFFFF);
        b.insert(b.end(), std::begin(kCollation), std::end(kCollation));
        break;
      case Type::VarBinaryMax:
        b.push_back(0xA5);
        Put16(b, 0xFFFF);
        break;
    }
    PutBVarChar(b, name);
  }
  for (const std::vector<Cell>& row : rows_) {
    b.push_back(0xD1);
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      const Cell& c = row.at(i);
      const Type type = columns_[i].second;
      if (c.null) {
        if (type == Type::NVarChar) {
          Put16(b, 0xFFFF);
        } else if (type == Type::NVarCharMax || type == Type::VarBinaryMax) {
          PutLe(b, ~std::uint64_t{0}, 8);
        } else {
          b.push_back(0);
        }
        continue;
      }
      switch (type) {
        case Type::Int:
          b.push_back(4);
          PutLe(b, static_cast<std::uint64_t>(c.integer), 4);
          break;
        case Type::BigInt:
          b.push_back(8);
          PutLe(b, static_cast<std::uint64_t>(c.integer), 8);
          break;
        case Type::Bit:
          b.insert(b.end(), {1, static_cast<std::uint8_t>(c.integer != 0)});
          break;
        case Type::Float: {
          std::uint64_t bits = 0;
          std::memcpy(&bits, &c.real, sizeof bits);
          b.push_back(8);
          PutLe(b, bits, 8);
          break;
        }
        case Type::Decimal:
          b.insert(b.end(), {5, static_cast<std::uint8_t>(c.real >= 0 ? 1 : 0)});
          PutLe(b, static_cast<std::uint64_t>(std::llround(std::fabs(c.real) * 100)), 4);
          break;
        case Type::DateTime:
          b.push_back(8);
          PutLe(b,
                static_cast<std::uint64_t>(DaysFromCivil(c.year, static_cast<unsigned>(c.month),
                                                         static_cast<unsigned>(c.day)) -
                                           DaysFromCivil(1900, 1, 1)),
                4);
          PutLe(b,
                static_cast<std::uint64_t>((c.hour * 3600 + c.minute * 60 + c.second) * 300 +
                                           c.fraction),
                4);
          break;
        case Type::Date:
          b.push_back(3);
          PutLe(b,
                static_cast<std::uint64_t>(DaysFromCivil(c.year, static_cast<unsigned>(c.month),
                                                         static_cast<unsigned>(c.day)) -
                                           DaysFromCivil(1, 1, 1)),
                3);
          break;
        case Type::Time:
          b.push_back(5);
          PutLe(b,
                static_cast<std::uint64_t>((c.hour * 3600 + c.minute * 60 + c.second) * 10000000LL +
                                           c.fraction),
                5);
          break;
        case Type::NVarChar:
          Put16(b, static_cast<std::uint16_t>(c.text.size() * 2));
          PutUtf16(b, c.text);
          break;
        case Type::NVarCharMax:
          PutPlp(b, Utf16Bytes(c.text));
          break;
        case Type::VarBinaryMax:
          PutPlp(b, c.bytes);
          break;
      }
    }
  }
  return b;
}

}  // namespace tds

}  // namespace pv::db::odbc::testing
