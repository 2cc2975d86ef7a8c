// Instances, logins, databases and the offline marker, seen from a client.
#include "db/embedded/instance.h"

#include "tests/support/embedded_instance.h"

namespace pv::db::embedded {
namespace {

using namespace pv::testing;  // the embedded instance and its helpers
using Instances = pv::testing::EmbeddedTest;

TEST_F(Instances, AnInstanceExistsOnlyOnceCreatedAndMissingOnesAreUnreachable) {
  EXPECT_TRUE(InstanceExists(root_, "localhost", "1433"));
  EXPECT_FALSE(InstanceExists(root_, "localhost", "1434"));
  EXPECT_FALSE(InstanceExists(root_, "otherhost", "1433"));

  auto c = MakeEmbeddedConnection(root_);
  using Address = std::pair<std::string, std::string>;
  for (const Address& a :
       {Address{"localhost", "1434"}, {"central.example", "1433"}, {"localhost", "14x3"}}) {
    std::string text;
    EXPECT_EQ(DbErrorOf([&] { c->Open(EmbeddedParams("Portavento", a.first, a.second)); }, &text),
              kErrServerUnreachable);
    EXPECT_NE(text.find(a.first + "," + a.second), std::string::npos) << text;
  }
  EXPECT_FALSE(c->IsOpen());
  // Administration of a missing instance fails the same way.
  EXPECT_EQ(DbErrorOf([&] { SetLogin(root_, "localhost", "1434", "sa", "x"); }),
            kErrServerUnreachable);

  CreateInstance(root_, "localhost", "1434");
  c->Open(EmbeddedParams("", "localhost", "1434"));
  EXPECT_EQ(c->CurrentDatabase(), "master");
}

TEST_F(Instances, TheNamesOfThisMachineAllReachTheSameInstance) {
  for (const char* server :
       {"localhost", "LocalHost", "127.0.0.1", "(local)", ".", " localhost "}) {
    auto c = MakeEmbeddedConnection(root_);
    EXPECT_NO_THROW(c->Open(EmbeddedParams("Portavento", server, "1433"))) << server;
    EXPECT_TRUE(c->IsOpen()) << server;
  }
  EXPECT_EQ(InstanceFolder(root_, "(local)", "01433"), InstanceFolder(root_, "localhost", "1433"));
  EXPECT_NE(InstanceFolder(root_, "localhost\\SQLEXPRESS", "1433"),
            InstanceFolder(root_, "localhost", "1433"));
  // A name with path characters stays inside the root.
  EXPECT_EQ(InstanceFolder(root_, "../../etc", "1433").parent_path(), root_);
}

TEST_F(Instances, LoginsFailLikeSqlServerAndCanBeChanged) {
  auto c = MakeEmbeddedConnection(root_);
  // The number and text of logging in as `user` with `password`; 0 on success.
  std::string text;
  auto login = [&](const std::string& user, const std::string& password) {
    text.clear();
    return DbErrorOf(
        [&] { c->Open(EmbeddedParams("Portavento", "localhost", "1433", user, password)); }, &text);
  };
  EXPECT_EQ(login("sa", "pw"), kErrLoginFailed);
  EXPECT_EQ(text, "Login failed for user 'sa'.");
  EXPECT_EQ(login("pvuser", ""), kErrLoginFailed);

  SetLogin(root_, "localhost", "1433", "pvuser", "S3cret;'x");
  SetLogin(root_, "127.0.0.1", "1433", "sa", "new");
  EXPECT_EQ(login("PVUSER", "S3cret;'x"), 0);
  EXPECT_EQ(login("pvuser", "s3cret;'x"), kErrLoginFailed);  // passwords are case-sensitive
  EXPECT_EQ(login("sa", ""), kErrLoginFailed);
  EXPECT_EQ(login("sa", "new"), 0);
  EXPECT_NE(DbErrorOf([&] { SetLogin(root_, "localhost", "1433", "", "x"); }), 0);
}

TEST_F(Instances, AMissingDatabaseFailsTheLoginWith4060) {
  auto c = MakeEmbeddedConnection(root_);
  std::string text;
  EXPECT_EQ(DbErrorOf([&] { c->Open(EmbeddedParams("Nowhere")); }, &text), kErrCannotOpenDatabase);
  EXPECT_EQ(text, "Cannot open database \"Nowhere\" requested by the login. The login failed.");
  EXPECT_FALSE(c->IsOpen());
  EXPECT_EQ(DbErrorOf([&] { c->Open(EmbeddedParams("../instance")); }), kErrCannotOpenDatabase);
  // Database names ignore case; the name reads back as it was created.
  c->Open(EmbeddedParams("PORTAVENTO"));
  EXPECT_EQ(c->CurrentDatabase(), "Portavento");
}

TEST_F(Instances, CreateDatabaseMakesOneFileAndTheConnectionSwitchesBetweenDatabases) {
  auto c = Connect();
  c->Execute("Create Database Installation00042;");
  std::string text;
  EXPECT_EQ(DbErrorOf([&] { c->Execute("Create Database installation00042"); }, &text),
            kErrDatabaseExists);
  EXPECT_NE(text.find("already exists"), std::string::npos);

  c->Execute("Create Table Home (name nvarchar(20) NULL); Insert Into Home Values ('home')");
  c->SetCurrentDatabase("installation00042");
  EXPECT_EQ(c->CurrentDatabase(), "Installation00042");
  c->Execute("Create Table Inst (id int NOT NULL); Insert Into Inst (id) Values (42)");
  EXPECT_NE(DbErrorOf([&] { c->Query("Select id From Home"); }), 0);  // other database

  EXPECT_EQ(DbErrorOf([&] { c->SetCurrentDatabase("Installation00043"); }, &text),
            kErrNoSuchDatabase);
  EXPECT_EQ(text,
            "Database 'Installation00043' does not exist. Make sure that the name is entered "
            "correctly.");
  EXPECT_EQ(c->CurrentDatabase(), "Installation00042");  // a failed switch keeps the current one

  c->SetCurrentDatabase("Portavento");
  EXPECT_EQ(Scalar(*c, "Select name From Home").AsTextRef(), "home");

  // A second connection opened on the new database sees the row.
  auto other = Connect("INSTALLATION00042");
  EXPECT_EQ(Scalar(*other, "Select id From Inst").AsInteger(), 42);

  // A database in use by the connection cannot be dropped; another one can,
  // and a third connection on it is ended rather than writing into nothing.
  EXPECT_EQ(DbErrorOf([&] { other->Execute("Drop Database Installation00042"); }),
            kErrDatabaseInUse);
#ifndef _WIN32  // Windows refuses to remove a file another connection holds open
  auto third = Connect("Installation00042");
#endif
  other->Execute("Use Portavento; Drop Database Installation00042");
#ifndef _WIN32
  EXPECT_EQ(DbErrorOf([&] { third->Execute("Insert Into Inst (id) Values (43)"); }),
            kErrLinkFailure);
  EXPECT_FALSE(third->IsOpen());
#endif
  EXPECT_EQ(other->CurrentDatabase(), "Portavento");
  EXPECT_EQ(DbErrorOf([&] { c->SetCurrentDatabase("Installation00042"); }), kErrNoSuchDatabase);
  EXPECT_EQ(DbErrorOf([&] { c->Execute("Drop Database Installation00042"); }),
            kErrNoDatabaseToDrop);
  c->Execute("Create Database Installation00042");  // the name is free again
}

TEST_F(Instances, AnInstanceTakenOfflineBreaksOpenConnectionsUntilBroughtBack) {
  auto c = Connect();
  c->Execute("Create Table T (id int NOT NULL); Insert Into T (id) Values (1)");
  EXPECT_TRUE(IsOnline(root_, "localhost", "1433"));

  SetOnline(root_, "(local)", "1433", false);
  EXPECT_FALSE(IsOnline(root_, "localhost", "1433"));
  EXPECT_EQ(DbErrorOf([&] { c->Execute("Insert Into T (id) Values (2)"); }), kErrLinkFailure);
  EXPECT_FALSE(c->IsOpen());
  EXPECT_EQ(DbErrorOf([&] { c->Query("Select id From T"); }), kErrNotOpen);
  std::string text;
  EXPECT_EQ(DbErrorOf([&] { c->Open(EmbeddedParams("Portavento")); }, &text),
            kErrServerUnreachable);
  EXPECT_NE(text.find("localhost,1433"), std::string::npos) << text;

  SetOnline(root_, "localhost", "1433", true);
  c->Open(EmbeddedParams("Portavento"));
  // The refused insert left nothing behind.
  EXPECT_EQ(Scalar(*c, "Select Count(*) From T"), Value::Integer(1));
}

}  // namespace
}  // namespace pv::db::embedded
