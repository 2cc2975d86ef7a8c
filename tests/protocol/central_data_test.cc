// The central connection data of "DBIN" as the fields are read, and the
// installation database and number.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "db/connections/central_connection.h"
#include "db/connections/installation.h"
#include "db/embedded/embedded_engine.h"
#include "tests/protocol/local_site.h"

namespace fs = std::filesystem;
using pv::db::CentralConnection;
using pv::db::CentralConnectionSettings;
using pv::db::HandleCentralConnectionData;

namespace {

const std::string S = "\xC2\xA7";  // the field separator "§"

class CentralDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = pv::testing::MakeTempDir("pvcentral-data");
    pv::db::embedded::CreateInstance(root_, "localhost", "14330");
    pv::db::embedded::SetLogin(root_, "localhost", "14330", "central", "s3cret;{x}");
    auto c = pv::db::embedded::MakeEmbeddedConnection(root_);
    pv::db::ConnectionParams p{"localhost", "14330", "central", "s3cret;{x}", ""};
    c->Open(p);
    c->Execute("Create Database Home;");
    c->Close();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  CentralConnection MakeCentral() {
    return CentralConnection([this] { return pv::db::embedded::MakeEmbeddedConnection(root_); });
  }

  fs::path root_;
};

}  // namespace

TEST_F(CentralDataTest, FewerThanSixPiecesReplaceWhatWasReadAndTryNoConnection) {
  CentralConnectionSettings s{"u0", "p0", "h0", "d0", "1"};
  auto central = MakeCentral();
  // Five pieces: all five are stored, then the missing sixth stops it.
  EXPECT_THROW(
      HandleCentralConnectionData(
          "central" + S + "s3cret;{x}" + S + "localhost" + S + "Home" + S + "14330", s, central),
      pv::db::DbError);
  EXPECT_EQ(s.port, "14330");
  EXPECT_EQ(central.get(), nullptr);  // no connection was tried

  CentralConnectionSettings t{"u0", "p0", "h0", "d0", "1"};
  EXPECT_THROW(HandleCentralConnectionData("a" + S + "b", t, central), pv::db::DbError);
  EXPECT_EQ(t.userId, "a");
  EXPECT_EQ(t.password, "b");
  EXPECT_EQ(t.server, "h0");
  EXPECT_EQ(t.homeDatabase, "d0");
}

TEST_F(CentralDataTest, InstallationDatabaseIsCreatedWhenMissing) {
  CentralConnectionSettings s{"central", "s3cret;{x}", "localhost", "Home", "14330"};
  auto central = MakeCentral();
  ASSERT_TRUE(central.OpenCentralConnection(s));
  central.UseInstallationDatabase(pv::db::InstallationNumber("7"));
  EXPECT_EQ(central.get()->CurrentDatabase(), "Installation00007");
  central.get()->SetCurrentDatabase("Home");
  central.UseInstallationDatabase(pv::db::InstallationNumber("7"));  // exists now: switched to
  EXPECT_EQ(central.get()->CurrentDatabase(), "Installation00007");
  central.CloseCentralConnection();
}

TEST(InstallationId, NumberAndBareForm) {
  EXPECT_EQ(pv::db::InstallationNumber("7"), "00007");
  EXPECT_EQ(pv::db::InstallationNumber("42"), "00042");
  EXPECT_EQ(pv::db::InstallationNumber("123456"), "123456");
  EXPECT_EQ(pv::db::InstallationNumber("00042"), "00042");
  EXPECT_EQ(pv::db::InstallationNumber("42abc"), "00042");
  EXPECT_EQ(pv::db::InstallationNumber(" 42"), "00042");
  EXPECT_EQ(pv::db::InstallationNumber("abc"), "00000");
  EXPECT_EQ(pv::db::InstallationNumber(""), "00000");
  EXPECT_EQ(pv::db::InstallationNumber("12345678901234567890123"), "12345678901234567890123");
  EXPECT_EQ(pv::db::InstallationDatabaseName("x7"), "Installation00000");

  EXPECT_EQ(pv::db::BareInstallationId("42"), "42");
  EXPECT_EQ(pv::db::BareInstallationId("0042"), "0042");
  EXPECT_EQ(pv::db::BareInstallationId("-1"), "-1");
  for (const char* bad : {"", "-", "4 2", " 42", "42\r", "42; Drop Table Names", "1e3", "0x10",
                          "1234567890123456789"}) {
    try {
      pv::db::BareInstallationId(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const pv::db::DbError& e) {
      EXPECT_EQ(e.number(), 13);
      EXPECT_NE(e.description().find(bad), std::string::npos);
    }
  }
}
