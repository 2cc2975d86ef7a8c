// The installation on both sides: the central connection data of "DBIN" as
// the fields are read, the installation database and number, and the
// installation key kept in the local Settings table.
#include "db/connections/installation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "db/connections/central_connection.h"
#include "db/embedded/embedded_engine.h"
#include "tests/support/embedded_instance.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using pv::db::CentralConnection;
using pv::db::CentralConnectionSettings;
using pv::db::HandleCentralConnectionData;

namespace {

const std::string S = "\xC2\xA7";  // the field separator "§"

class CentralDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pv::db::embedded::CreateInstance(root_, "localhost", "14330");
    pv::db::embedded::SetLogin(root_, "localhost", "14330", "central", "s3cret;{x}");
    auto c = pv::db::embedded::MakeEmbeddedConnection(root_);
    pv::db::ConnectionParams p{"localhost", "14330", "central", "s3cret;{x}", ""};
    c->Open(p);
    c->Execute("Create Database Home;");
    c->Close();
  }
  CentralConnection MakeCentral() {
    return CentralConnection([this] { return pv::db::embedded::MakeEmbeddedConnection(root_); });
  }

  pv::testing::TempDir dir_;
  const fs::path root_ = dir_.path();
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
  central.UseInstallationDatabase(pv::db::InstallationDatabaseName("7"));
  EXPECT_EQ(central.get()->CurrentDatabase(), "Installation00007");
  central.get()->SetCurrentDatabase("Home");
  central.UseInstallationDatabase(
      pv::db::InstallationDatabaseName("7"));  // exists now: switched to
  EXPECT_EQ(central.get()->CurrentDatabase(), "Installation00007");
  central.CloseCentralConnection();
}

TEST(InstallationId, NumberDatabaseNameAndCheckedForm) {
  const std::pair<const char*, const char*> numbers[] = {
      {"7", "00007"},
      {"42", "00042"},
      {"123456", "123456"},
      {"00042", "00042"},
      {"42abc", "00042"},
      {" 42", "00042"},
      {"\t42", "00042"},
      {"+42", "00042"},
      {"-42", "-00042"},
      {"abc", "00000"},
      {"", "00000"},
      {"0", "00000"},
      {"12345678901234567890123", "12345678901234567890123"}};
  for (const auto& [id, number] : numbers) EXPECT_EQ(pv::db::InstallationNumber(id), number) << id;
  EXPECT_EQ(pv::db::InstallationDatabaseName("x7"), "Installation00000");
  EXPECT_EQ(pv::db::InstallationDatabaseName("42"), "Installation00042");

  EXPECT_EQ(pv::db::CheckedInstallationId("42"), 42);
  EXPECT_EQ(pv::db::CheckedInstallationId(" 0042\r"), 42);
  EXPECT_EQ(pv::db::CheckedInstallationId("-1"), -1);
  for (const char* bad :
       {"", "-", "4 2", "42; Drop Table Names", "1e3", "0x10", "99999999999999999999"}) {
    try {
      pv::db::CheckedInstallationId(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const pv::db::DbError& e) {
      EXPECT_EQ(e.number(), 13);
      EXPECT_NE(e.description().find(bad), std::string::npos);
    }
  }
}

class InstallationKeyTest : public pv::testing::EmbeddedTest {
 protected:
  // The stored key; "<null>" for Null.
  std::string StoredKey() const {
    const pv::db::Value v = pv::testing::Scalar(*Connect(), "Select installationID From Settings");
    return v.IsNull() ? "<null>" : v.ToText();
  }
};

TEST_F(InstallationKeyTest, StoredKeyOrAFreshOneTheColumnMadeWhenMissing) {
  auto local = Connect();
  local->Execute("Create Table Settings (name nvarchar(50) NULL, zip nvarchar(10) NULL);");
  local->Execute("Insert Into Settings (name, zip) Values ('Test Site', '12345');");
  // Without the column it is added, and a fresh key is not stored.
  const pv::db::InstallationKey first = pv::db::LoadInstallationID(*local);
  EXPECT_TRUE(first.isNew);
  ASSERT_EQ(first.key.size(), 50u);
  for (char c : first.key) EXPECT_TRUE(c >= 'A' && c <= 'Z') << first.key;
  EXPECT_EQ(StoredKey(), "<null>");
  EXPECT_NE(pv::db::LoadInstallationID(*local).key, first.key);  // drawn anew

  // Quotes are doubled in the statement, so the key arrives intact.
  pv::db::StoreInstallationID(*local, "O'Brien's key'; Drop Table Settings; --");
  const pv::db::InstallationKey stored = pv::db::LoadInstallationID(*local);
  EXPECT_FALSE(stored.isNew);
  EXPECT_EQ(stored.key, "O'Brien's key'; Drop Table Settings; --");

  // An empty stored key counts as none.
  local->Execute("Update Settings Set installationID = '';");
  EXPECT_TRUE(pv::db::LoadInstallationID(*local).isNew);

  // A failing database fails the store, and the stored key stays.
  pv::db::StoreInstallationID(*local, "FIRSTKEY");
  pv::db::embedded::SetOnline(root_, "localhost", "1433", false);
  EXPECT_THROW(pv::db::StoreInstallationID(*local, "SECONDKEY"), pv::db::DbError);
  pv::db::embedded::SetOnline(root_, "localhost", "1433", true);
  EXPECT_EQ(StoredKey(), "FIRSTKEY");
}

TEST(InstallationKey, RandomKeysAreUpperCaseLettersFreshEachTime) {
  std::set<std::string> keys;
  std::set<char> letters;
  for (int i = 0; i < 100; ++i) {
    const std::string key = pv::db::RandomID(50);
    for (char c : key) letters.insert(c);
    keys.insert(key);
  }
  EXPECT_EQ(keys.size(), 100u);  // drawn within the same second, all different
  EXPECT_EQ(letters.size(), 26u);
  EXPECT_EQ(pv::db::RandomID(0), "");
  EXPECT_EQ(pv::db::RandomID(-3), "");
}
