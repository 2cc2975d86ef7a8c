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
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pv::db::odbc::testing {

using TdsBytes = std::vector<std::uint8_t>;

struct TdsRequest {
  std::uint8_t type = 0;  // 1 SQL batch, 3 RPC
  std::u16string sql;     // the text of a SQL batch
  TdsBytes body;          // the whole message after its packet headers
};

struct TdsReply {
  enum class Kind { Tokens, Silent, Close };
  Kind kind = Kind::Tokens;
  TdsBytes tokens;

  static TdsReply Send(TdsBytes tokens) { return {Kind::Tokens, std::move(tokens)}; }
  static TdsReply NoAnswer() { return {Kind::Silent, {}}; }  // as if the statement ran on
  static TdsReply Drop() { return {Kind::Close, {}}; }       // the server goes away
};

struct TdsLogin {
  std::u16string user;
  std::u16string password;
  std::u16string database;
};

class TdsPeer {
 public:
  using Script = std::function<TdsReply(const TdsRequest&)>;

  explicit TdsPeer(Script script);
  ~TdsPeer();
  TdsPeer(const TdsPeer&) = delete;
  TdsPeer& operator=(const TdsPeer&) = delete;

  std::uint16_t port() const { return port_; }
  std::vector<TdsLogin> logins() const;
  std::vector<TdsRequest> requests() const;
  int cancels() const;

 private:
  void Accept();
  void ReadHeader();
  void ReadBody(std::size_t length, bool last);
  void Handle(std::uint8_t type);
  void Write(std::uint8_t packetType, const TdsBytes& payload);
  void Disconnect();

  Script script_;
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_;
  asio::ip::tcp::socket socket_;
  std::uint16_t port_ = 0;
  std::uint8_t header_[8] = {};
  TdsBytes packet_;
  TdsBytes message_;
  std::uint8_t messageType_ = 0;
  int stage_ = 0;  // 0 pre-login, 1 login, 2 requests
  mutable std::mutex mutex_;
  std::vector<TdsLogin> logins_;
  std::vector<TdsRequest> requests_;
  int cancels_ = 0;
  std::thread thread_;
};

// Token streams for replies.
namespace tds {

inline constexpr std::uint16_t kDoneMore = 0x0001;
inline constexpr std::uint16_t kDoneError = 0x0002;
inline constexpr std::uint16_t kDoneCount = 0x0010;

TdsBytes Done(std::uint16_t status, std::uint64_t count = 0);
TdsBytes Error(std::int32_t number, const std::u16string& message);
TdsBytes Info(std::int32_t number, const std::u16string& message);  // PRINT output and the like
TdsBytes DatabaseChange(const std::u16string& now, const std::u16string& before);

// A result set: columns first, then rows of values in column order.
class ResultSet {
 public:
  enum class Type {
    Int,
    BigInt,
    Bit,
    Float,
    Decimal,
    DateTime,
    Date,
    Time,
    NVarChar,
    NVarCharMax,
    VarBinaryMax
  };
  struct Cell {
    bool null = true;
    std::int64_t integer = 0;
    double real = 0;
    std::u16string text;
    TdsBytes bytes;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::int64_t fraction = 0;  // 300ths (DateTime) or 100 ns units (Time)
  };

  ResultSet& Column(const std::u16string& name, Type type);
  ResultSet& Row(std::vector<Cell> cells);
  TdsBytes Build() const;

  static Cell Null() { return {}; }
  static Cell Integer(std::int64_t v);
  static Cell Real(double v);  // Float; Decimal takes the value * 100 as integer (scale 2)
  static Cell Text(std::u16string v);
  static Cell Bytes(TdsBytes v);
  static Cell When(int y, int mo, int d, int h = 0, int mi = 0, int s = 0,
                   std::int64_t fraction = 0);

 private:
  std::vector<std::pair<std::u16string, Type>> columns_;
  std::vector<std::vector<Cell>> rows_;
};

}  // namespace tds

}  // namespace pv::db::odbc::testing
