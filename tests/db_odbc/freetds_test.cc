// The ODBC engine through the FreeTDS driver and unixODBC. There is no SQL
// Server on these machines: the driver talks to a closed loopback port or to
// TdsPeer, a scripted stand-in that answers like a server would.
#include <gtest/gtest.h>

#include <algorithm>
#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/error.h"
#include "db/odbc/odbc_connection.h"
#include "db/odbc/odbc_diagnostics.h"
#include "db/odbc/utf16.h"
#include "tds_peer.h"
#include "test_database.h"
#include "tests/support/temp_dir.h"

namespace pv::db::odbc {
namespace {

using namespace testing;  // the ODBC tests' own: the peer and the failure check
using namespace testing::tds;

constexpr const char* kFreeTds = "FreeTDS";

ConnectionParams PeerParams(std::uint16_t port) {
  return ConnectionParams{"127.0.0.1", std::to_string(port), "sa", "pw", "Portavento"};
}

std::unique_ptr<Connection> OpenPeer(const TdsPeer& peer) {
  auto c = MakeOdbcConnection(kFreeTds);
  c->Open(PeerParams(peer.port()));
  return c;
}

// Three residents, for the walks below.
TdsBytes ThreeNames() {
  TdsBytes out = Columns({{u"id", Col::Int}, {u"lastName", Col::Text}});
  for (int i = 1; i <= 3; ++i) {
    out = Join({out, Row({Int(i), Text(u"Name " + std::u16string(1, u'0' + i))})});
  }
  return Join({out, Done(kDoneCount, 3)});
}

TEST(OdbcFreeTds, RefusedConnectionFailsQuicklyWithNumberAndText) {
  std::uint16_t port = 0;
  {
    asio::io_context io;
    asio::ip::tcp::acceptor a(io, {asio::ip::address_v4::loopback(), 0});
    port = a.local_endpoint().port();
  }
  auto c = MakeOdbcConnection(kFreeTds);
  const auto start = std::chrono::steady_clock::now();
  ExpectFailure([&] { c->Open(PeerParams(port)); }, 20009, {"Unable to connect", "(SQLSTATE 08"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_FALSE(c->IsOpen());
  EXPECT_THROW(c->Execute("Select 1"), DbError);
}

TEST(OdbcFreeTds, DriverReceivesTheConnectionValuesExactly) {
  TdsPeer peer([](const TdsRequest&) { return Done(0); });
  struct Case {
    std::string user, password, database;
    std::u16string wantUser, wantPassword, wantDatabase;
  };
  const std::vector<Case> cases = {
      // Blanks at the ends of values are the values' own ("DBIN" sends them so).
      {" sa", " secret ", " Portavento ", u" sa", u" secret ", u" Portavento "},
      {"sa", "\tpw  ", "d", u"sa", u"\tpw  ", u"d"},
      // Separators and braces inside values arrive as they are.
      {"sa", "p;w{d}x", "Home;1", u"sa", u"p;w{d}x", u"Home;1"},
      {"sa", "ends}", "{db}", u"sa", u"ends}", u"{db}"},
      {"o'brien", "", "Installation00042", u"o'brien", u"", u"Installation00042"},
      {"sa", "\xC3\xA9t\xC3\xA9\xE2\x82\xAC", "d", u"sa", u"\u00e9t\u00e9\u20ac", u"d"},
  };
  for (const Case& k : cases) {
    MakeOdbcConnection(kFreeTds)->Open(
        ConnectionParams{"127.0.0.1", std::to_string(peer.port()), k.user, k.password, k.database});
    const TdsLogin got = peer.logins().back();
    EXPECT_TRUE(got.user == k.wantUser && got.password == k.wantPassword &&
                got.database == k.wantDatabase)
        << k.user << " / " << k.password << " / " << k.database;
  }
  EXPECT_EQ(peer.logins().size(), cases.size());
}

TEST(OdbcFreeTds, ReadsSqlServerTypesAsTypedValues) {
  std::u16string longText;
  while (longText.size() < 100000) longText += u"Zeile \u00e9\u20ac\U0001F600 ";
  TdsPeer peer([&](const TdsRequest&) {
    return Join({Columns({{u"id", Col::Int},
                          {u"amount", Col::Decimal},
                          {u"aTime", Col::Time},
                          {u"lastName", Col::Text},
                          {u"notes", Col::Text}}),
                 Row({Int(-7), Decimal(1234), Time(13, 5, 9, 1234567),
                      Text(u"J\u00fcrgen \U0001F600"), Text(longText)}),
                 Row({Null(Col::Int), Null(Col::Decimal), Null(Col::Time), Null(Col::Text),
                      Null(Col::Text)}),
                 Done(kDoneCount, 2)});
  });
  auto c = OpenPeer(peer);
  auto rows = c->Query("Select * From Names");
  ASSERT_EQ(rows->ColumnCount(), 5);
  EXPECT_EQ(rows->ColumnName(2), "aTime");
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->Get("id"), Value::Integer(-7));
  ASSERT_EQ(rows->Get("amount").type(), Value::Type::Float);
  EXPECT_DOUBLE_EQ(rows->Get("amount").AsFloat(), 12.34);
  // SQL Server's own time type, to the 100 ns.
  EXPECT_EQ(rows->Get("aTime"), Value::Date(DateTime{1900, 1, 1, 13, 5, 9, 123456700}));
  // A driver with wide entry points carries every plane, in chunks of any size.
  EXPECT_EQ(rows->Get("lastName"), Value::Text("J\xC3\xBCrgen \xF0\x9F\x98\x80"));
  EXPECT_TRUE(rows->Get("notes") == Value::Text(Utf16ToUtf8(longText)));
  ASSERT_TRUE(rows->Next());
  for (int i = 0; i < rows->ColumnCount(); ++i) {
    EXPECT_TRUE(rows->Get(i).IsNull()) << rows->ColumnName(i);
  }
  EXPECT_FALSE(rows->Next());
}

TEST(OdbcFreeTds, ExecuteConsumesEveryResultOfABatch) {
  TdsPeer peer([](const TdsRequest& r) {
    if (r.sql.starts_with(u"Insert")) {  // three statements, three counts
      return Join(
          {Done(kDoneMore | kDoneCount, 1), Done(kDoneMore | kDoneCount, 2), Done(kDoneCount, 5)});
    }
    if (r.sql.starts_with(u"Create")) return Join({Done(kDoneMore), Done(0)});  // no counts
    if (r.sql.starts_with(u"Update")) {  // the second statement fails, the third runs
      return Join({Done(kDoneMore | kDoneCount, 1), Message(208, u"Invalid object name 'Nowhere'."),
                   Done(kDoneMore | kDoneError), Done(kDoneCount, 4)});
    }
    if (r.sql.starts_with(u"Print")) {  // a message before the failure
      return Join({Message(0, u"checking", false),
                   Message(2627, u"Violation of PRIMARY KEY constraint."), Done(kDoneError)});
    }
    if (r.sql.starts_with(u"Set")) return Join({Done(kDoneMore | kDoneCount, 1), ThreeNames()});
    return Done(kDoneCount, 1);
  });
  auto c = OpenPeer(peer);
  EXPECT_EQ(c->Execute("Insert Into A Values (1); Insert Into A Values (2); Insert ..."), 5);
  EXPECT_EQ(c->Execute("Create Table T (id int); Create Index ..."), -1);
  const std::string update = "Update A Set x = 1; Update Nowhere Set x = 1; Update B Set x = 1";
  ExpectFailure([&] { c->Execute(update); }, 208,
                {"Invalid object name 'Nowhere'.", "(SQLSTATE 42S02)"});
  EXPECT_TRUE(c->IsOpen());
  EXPECT_EQ(c->Execute("Delete From A"), 1);
  // The number is the error's, not that of the message printed before it.
  ExpectFailure([&] { c->Execute("Print 'checking'; Insert Into A Values (1)"); }, 2627,
                {"checking"});

  // Query passes over counts to the first result with rows.
  auto rows = c->Query("Set NoCount Off; Insert ...; Select id, lastName From Names");
  int n = 0;
  while (rows->Next()) EXPECT_EQ(rows->Get("id"), Value::Integer(++n));
  EXPECT_EQ(n, 3);
}

TEST(OdbcFreeTds, RowsetLeavesTheConnectionFreeForOtherStatements) {
  TdsPeer peer([](const TdsRequest& r) {
    return r.sql.starts_with(u"Select") ? ThreeNames() : Done(kDoneCount, 1);
  });
  auto c = OpenPeer(peer);
  // FreeTDS refuses a statement while another one's rows are pending
  // ("Invalid cursor state"); the rowset reads its rows first instead.
  auto rows = c->Query("Select id, lastName From UpdateQueue", Cursor::Keyset);
  int seen = 0;
  while (rows->Next()) {
    ++seen;
    EXPECT_EQ(rows->Get("lastName"), Value::Text("Name " + std::to_string(seen)));
    EXPECT_EQ(c->Execute("Delete From UpdateQueue Where id = " + std::to_string(seen)), 1);
  }
  EXPECT_EQ(seen, 3);
  EXPECT_EQ(peer.cancels(), 0);  // read, not thrown away

  // A rowset closed half-way cancels the rest; the connection goes on.
  auto half = c->Query("Select id, lastName From Names");
  ASSERT_TRUE(half->Next());
  half->Close();
  EXPECT_EQ(c->Execute("Delete From Names Where id = 1"), 1);
  EXPECT_TRUE(c->IsOpen());
}

TEST(OdbcFreeTds, CurrentDatabaseFollowsTheServer) {
  TdsPeer peer([](const TdsRequest& r) {
    if (r.sql.find(u"Installation00042") != std::u16string::npos) {
      return Join({DatabaseChange(u"Installation00042", u"Portavento"), Done(0)});
    }
    return Join({Message(911,
                         u"Database 'Installation00007' does not exist. Make sure that the "
                         u"name is entered correctly."),
                 Done(kDoneError)});
  });
  auto c = OpenPeer(peer);
  EXPECT_EQ(c->CurrentDatabase(), "Portavento");
  c->SetCurrentDatabase("Installation00042");
  EXPECT_EQ(c->CurrentDatabase(), "Installation00042");
  ExpectFailure([&] { c->SetCurrentDatabase("Installation00007"); }, 911, {"does not exist"});
  EXPECT_EQ(c->CurrentDatabase(), "Installation00042");
}

TEST(OdbcFreeTds, StoreFileInColumnSendsTheFileAsOneParameter) {
  TdsPeer peer([](const TdsRequest& r) {
    const TdsBytes columns = Columns({{u"id", Col::Int}, {u"photo", Col::Bytes}});
    if (r.sql.starts_with(u"Select id, photo From Photos Where id = 7")) {
      return Join({columns, Row({Int(7), Null(Col::Bytes)}), Done(kDoneCount, 1)});
    }
    if (r.sql.starts_with(u"Select")) return Join({columns, Done(kDoneCount, 0)});
    return Done(kDoneCount, 1);  // the UPDATE
  });
  pv::testing::TempDir dir;
  std::string photo(200000, '\0');
  for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<char>(i * 13 + 1);
  const std::string file = dir / "temp_00042.jpg";
  pv::testing::WriteFile(file, photo);

  auto c = OpenPeer(peer);
  EXPECT_FALSE(c->StoreFileInColumn("Photos", "photo", 8, file));
  EXPECT_TRUE(c->StoreFileInColumn("Photos", "photo", 7, file));
  const auto requests = peer.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_TRUE(requests[0].sql == u"Select id, photo From Photos Where id = 8");
  EXPECT_TRUE(requests[1].sql == u"Select id, photo From Photos Where id = 7");
  // The UPDATE goes as a call with the statement text and the bytes as a parameter.
  const TdsRequest& update = requests[2];
  EXPECT_EQ(update.type, 3);
  TdsBytes text;
  PutUtf16(text, u"Update Photos Set photo = ");
  for (const TdsBytes& part : {text, TdsBytes(photo.begin(), photo.end())}) {
    EXPECT_NE(std::search(update.body.begin(), update.body.end(), part.begin(), part.end()),
              update.body.end());
  }
  EXPECT_EQ(peer.cancels(), 0);  // the lookup's result was read to its end
}

TEST(OdbcFreeTds, CommandTimeoutOfTheEngineOptionsAndLostServerReadClearly) {
  TdsPeer peer([](const TdsRequest& r) -> TdsReply {
    if (r.sql.starts_with(u"WaitFor")) return TdsBytes{};     // no answer: the statement runs on
    if (r.sql.starts_with(u"Shutdown")) return std::nullopt;  // the server goes away
    return Done(kDoneCount, 1);
  });
  // Statements run under the command time-out of the options.
  auto c = CreateConnection(EngineOptions{kFreeTds, {}, 15, 1});
  c->Open(PeerParams(peer.port()));
  const auto start = std::chrono::steady_clock::now();
  ExpectFailure([&] { c->Execute("WaitFor Delay '00:10:00'"); }, kErrOdbcTimeout,
                {"(SQLSTATE HYT00)"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  // The statement was cancelled; the connection is fine.
  EXPECT_TRUE(c->IsOpen());
  EXPECT_EQ(c->Execute("Update A Set x = 1"), 1);

  ExpectFailure([&] { c->Execute("Shutdown"); }, 20017, {"Unexpected EOF from the server"});
  EXPECT_FALSE(c->IsOpen());
  EXPECT_THROW(c->Execute("Update A Set x = 1"), DbError);
  // Opening again reaches the server anew.
  c->Open(PeerParams(peer.port()));
  EXPECT_TRUE(c->IsOpen());
  EXPECT_EQ(c->Execute("Update A Set x = 1"), 1);
  EXPECT_EQ(peer.logins().size(), 2u);
}

}  // namespace
}  // namespace pv::db::odbc
