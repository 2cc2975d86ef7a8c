// Statements, typed values, streaming rowsets, binary columns and timeouts
// of the embedded engine.
#include <thread>

#include "db/embedded/instance.h"
#include "tests/support/embedded_instance.h"

namespace pv::db::embedded {
namespace {

using namespace pv::testing;  // the embedded instance and its helpers
using EmbeddedConnectionTest = pv::testing::EmbeddedTest;

constexpr const char* kAllTypes =
    "Create Table AllTypes (id int NOT NULL PRIMARY KEY, b bit NULL, i int NULL, s smallint NULL, "
    "t tinyint NULL, g bigint NULL, f float NULL, r real NULL, m money NULL, d decimal(18, 2) "
    "NULL, "
    "dt datetime NULL, sd smalldatetime NULL, da date NULL, c char(4) NULL, vc varchar(20) NULL, "
    "nc nchar(4) NULL, nv nvarchar(50) NULL, tx text NULL, nt ntext NULL, bi binary(4) NULL, "
    "vb varbinary(10) NULL, im image NULL)";

TEST_F(EmbeddedConnectionTest, ValuesComeBackTypedByTheDeclaredTypeFromColumnsNamedInAnyCase) {
  auto c = Connect();
  c->Execute(kAllTypes);
  c->Execute(
      "Insert Into AllTypes (id, b, i, s, t, g, f, r, m, d, dt, sd, da, c, vc, nc, nv, tx, nt) "
      "Values (1, 1, -7, 300, 255, 9007199254740993, 0.1, 2.5, 12.25, 3.75, "
      "'2026-12-04T13:05:09', '2026-12-04 13:05', '2026-12-04', 'ab', 'O''Brien', 'x', "
      "'Zoë', 'long', 'longer')");
  c->Execute("Insert Into AllTypes (id) Values (2)");
  auto rows = c->Query("Select * From AllTypes Order By id");
  ASSERT_EQ(rows->ColumnCount(), 22);
  EXPECT_EQ(rows->FindColumn("VC"), 14);
  EXPECT_EQ(rows->FindColumn("photo"), -1);
  EXPECT_EQ(DbErrorOf([&] { rows->Get(0); }), 3021);  // before the first row
  ASSERT_TRUE(rows->Next());
  using V = Value;
  EXPECT_EQ(rows->Get("b"), V::Bit(true));
  EXPECT_EQ(rows->Get("i"), V::Integer(-7));
  EXPECT_EQ(rows->Get("s"), V::Integer(300));
  EXPECT_EQ(rows->Get("t"), V::Integer(255));
  EXPECT_EQ(rows->Get("g"), V::Integer(9007199254740993));
  EXPECT_EQ(rows->Get("f"), V::Float(0.1));
  EXPECT_EQ(rows->Get("r"), V::Float(2.5));
  EXPECT_EQ(rows->Get("m"), V::Float(12.25));
  EXPECT_EQ(rows->Get("d"), V::Float(3.75));
  const V at = V::Date({2026, 12, 4, 13, 5, 9, 0});
  EXPECT_EQ(rows->Get("dt"), at);
  EXPECT_EQ(rows->Get("sd"), V::Date({2026, 12, 4, 13, 5, 0, 0}));
  EXPECT_EQ(rows->Get("da"), V::Date({2026, 12, 4, 0, 0, 0, 0}));
  EXPECT_EQ(rows->Get("Vc"), V::Text("O'Brien"));
  EXPECT_EQ(rows->Get("nv"), V::Text("Zoë"));
  EXPECT_EQ(rows->Get("NT"), V::Text("longer"));
  EXPECT_EQ(rows->Get("im"), V::Null());
  EXPECT_EQ(DbErrorOf([&] { rows->Get("photo"); }), kErrNoSuchColumn);
  EXPECT_EQ(DbErrorOf([&] { rows->Get(22); }), kErrNoSuchColumn);
  // Nulls of every type read back as Null.
  ASSERT_TRUE(rows->Next());
  for (int i = 1; i < rows->ColumnCount(); ++i) {
    EXPECT_TRUE(rows->Get(i).IsNull()) << rows->ColumnName(i);
  }
  EXPECT_FALSE(rows->Next());

  // Computed columns take the type of what they compute; a date-time stays one.
  auto computed =
      c->Query("Select Count(*), 1.5, 'x', Max(dt), '2026-12-04', GetDate() From AllTypes");
  ASSERT_TRUE(computed->Next());
  const V computedValues[] = {V::Integer(2), V::Float(1.5), V::Text("x"), at,
                              V::Text("2026-12-04")};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(computed->Get(i), computedValues[i]) << i;
  EXPECT_EQ(computed->Get(5).type(), V::Type::DateTime);
}

TEST_F(EmbeddedConnectionTest, ExecuteRunsEveryStatementOfABatchAndCountsTheLastChange) {
  auto c = Connect();
  EXPECT_EQ(c->Execute("Create Table T (id int NOT NULL, v int NULL)"), -1);
  EXPECT_EQ(c->Execute("Insert Into T (id, v) Values (1, 10); Insert Into T (id, v) Values (2, 20);"
                       "Insert Into T (id, v) Values (3, 30)"),
            1);
  EXPECT_EQ(c->Execute("Update T Set v = v + 1 Where id >= 2"), 2);
  EXPECT_EQ(c->Execute("Delete From T Where id = 99"), 0);
  // A batch without a result set gives an empty rowset.
  auto none = c->Query("Delete From T Where id = 6");
  EXPECT_EQ(none->ColumnCount(), 0);
  EXPECT_FALSE(none->Next());
}

TEST_F(EmbeddedConnectionTest, TheLastIdentityBelongsToTheConnection) {
  auto c = Connect();
  c->Execute("Create Table Notification (id bigint IDENTITY(1,1) NOT NULL, resId int NOT NULL)");
  c->Execute(
      "Insert Into Notification (resId) Values (10); Insert Into Notification (resId) Values (11)");
  auto other = Connect();
  other->Execute("Insert Into Notification (resId) Values (12)");
  // The query runs on a handle of its own, yet sees this connection's last insert.
  EXPECT_EQ(Scalar(*c, "Select SCOPE_IDENTITY()").AsInteger(), 2);
  EXPECT_EQ(Scalar(*other, "Select SCOPE_IDENTITY()").AsInteger(), 3);
  // An insert made inside a query's batch becomes the connection's last identity.
  EXPECT_EQ(Scalar(*c, "Insert Into Notification (resId) Values (13); Select SCOPE_IDENTITY()")
                .AsInteger(),
            4);
  EXPECT_EQ(Scalar(*c, "Select SCOPE_IDENTITY()").AsInteger(), 4);
}

TEST_F(EmbeddedConnectionTest, ARowsetKeepsItsRowsWhileChangesMadeMeanwhileCommitAtOnce) {
  auto c = Connect();
  c->Execute("Create Table UpdateQueue (id int NOT NULL PRIMARY KEY, tableName nvarchar(50) NULL)");
  c->Execute(
      "Insert Into UpdateQueue Values (1, 'NamesU'), (2, 'NamesU'), (3, 'NamesU'), "
      "(4, 'NamesU'), (5, 'NamesU')");
  // Drain the queue as the service does: read the rows once, delete each as handled.
  auto rows = c->Query("Select * From UpdateQueue Order By id Asc");
  int seen = 0;
  while (rows->Next()) {
    ++seen;
    EXPECT_EQ(rows->Get("id").AsInteger(), seen);
    c->Execute("Delete From UpdateQueue Where id = " + std::to_string(seen) + ";");
    // Rows queued during the drain wait for the next one.
    c->Execute("Insert Into UpdateQueue (id, tableName) Values (" + std::to_string(seen + 10) +
               ", 'NamesU')");
    // Another program sees the delete while the rowset is still open.
    EXPECT_EQ(Scalar(*Connect(), "Select Count(*) From UpdateQueue").AsInteger(), 5);
  }
  EXPECT_EQ(seen, 5);
}

TEST_F(EmbeddedConnectionTest, ClosingTheConnectionEndsItsRowsets) {
  auto c = Connect();
  c->Execute(
      "Create Table T (id int NOT NULL); Insert Into T Values (1); Insert Into T Values (2)");
  auto rows = c->Query("Select id From T");
  ASSERT_TRUE(rows->Next());
  c->Close();
  EXPECT_FALSE(c->IsOpen());
  EXPECT_EQ(DbErrorOf([&] { rows->Next(); }), kErrNotOpen);
  EXPECT_EQ(DbErrorOf([&] { c->Execute("Delete From T"); }), kErrNotOpen);
  EXPECT_EQ(DbErrorOf([&] { c->CurrentDatabase(); }), kErrNotOpen);
  // The connection opens again after a close.
  c->Open(EmbeddedParams("Portavento"));
  EXPECT_EQ(c->CurrentDatabase(), "Portavento");
  c.reset();
  EXPECT_FALSE(rows->Next());
}

TEST_F(EmbeddedConnectionTest, AFileStoredInABinaryColumnReadsBackByteForByte) {
  auto c = Connect();
  c->Execute("Create Table Names (id int NOT NULL PRIMARY KEY, photo image NULL)");
  c->Execute("Insert Into Names (id) Values (7); Insert Into Names (id) Values (8)");
  const auto big = RandomFile("big.jpg", 10 * 1024 * 1024 + 13);
  ASSERT_TRUE(c->StoreFileInColumn("Names", "photo", 7, big));
  auto rows = c->Query("Select id, photo From Names Order By id", Cursor::Keyset);
  ASSERT_TRUE(rows->Next());
  ASSERT_EQ(rows->Get("photo").type(), Value::Type::Binary);
  EXPECT_TRUE(rows->Get("photo").AsBinary() == FileBytes(big));
  ASSERT_TRUE(rows->Next());
  EXPECT_TRUE(rows->Get("photo").IsNull());  // the other row is untouched
  rows->Close();

  // A smaller file replaces the value completely; an empty file stores zero bytes, not Null.
  const auto small = RandomFile("small.jpg", 1000, 9);
  ASSERT_TRUE(c->StoreFileInColumn("Names", "photo", 7, small));
  ASSERT_TRUE(c->StoreFileInColumn("Names", "photo", 8, RandomFile("empty.jpg", 0)));
  // Without the row, a readable file, the table or the column nothing is stored.
  EXPECT_FALSE(c->StoreFileInColumn("Names", "photo", 4, big));
  EXPECT_EQ(DbErrorOf([&] { c->StoreFileInColumn("Names", "photo", 7, root_ / "missing.jpg"); }),
            kErrFileOpen);
  EXPECT_NE(DbErrorOf([&] { c->StoreFileInColumn("Nowhere", "photo", 7, big); }), 0);
  EXPECT_NE(DbErrorOf([&] { c->StoreFileInColumn("Names", "photo9", 7, big); }), 0);
  rows = c->Query("Select photo From Names Order By id");
  ASSERT_TRUE(rows->Next());
  EXPECT_TRUE(rows->Get(0).AsBinary() == FileBytes(small));
  ASSERT_TRUE(rows->Next());
  EXPECT_FALSE(rows->Get(0).IsNull());
  EXPECT_FALSE(rows->Get(0).HoldsData());
}

TEST_F(EmbeddedConnectionTest, AStatementRunningPastTheCommandTimeoutIsStopped) {
  auto c = Connect();
  c->SetCommandTimeout(1);
  std::string text;
  const long number = DbErrorOf(
      [&] {
        auto rows = c->Query(
            "With c(x) As (Select 1 Union All Select x + 1 From c) Select Count(*) From c");
        rows->Next();
      },
      &text);
  EXPECT_EQ(number, kErrQueryTimeout) << text;
  // The connection goes on working after the timeout.
  EXPECT_EQ(c->Execute("Create Table T (id int NOT NULL)"), -1);
}

}  // namespace
}  // namespace pv::db::embedded
