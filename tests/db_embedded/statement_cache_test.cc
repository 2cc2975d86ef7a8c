// Literals taken out of translated statements so that one prepared statement
// serves every row of a shape, and the engine giving the same results and
// errors through it.
#include "db/embedded/statement_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/embedded_instance.h"

namespace pv::db::embedded {
namespace {

std::string Shown(const Literal& v) {
  switch (v.kind) {
    case Literal::Kind::Integer:
      return "i" + std::to_string(v.integer);
    case Literal::Kind::Real:
      return "r" + std::to_string(v.real);
    case Literal::Kind::Text:
      return "t" + v.bytes;
    case Literal::Kind::Blob:
      return "b" + std::to_string(v.bytes.size());
  }
  return "";
}

TEST(StatementCache, LiteralsOfOneWriteBecomeValuesAndEverythingElseStays) {
  const struct {
    const char* sql;
    const char* text;  // nullptr: not parameterized
    const char* values;
  } cases[] = {
      {"INSERT INTO \"T\" (\"a\", \"b\") VALUES (1, 'O''Brien')",
       "INSERT INTO \"T\" (\"a\", \"b\") VALUES (?, ?)", "i1 tO'Brien"},
      {"UPDATE \"T\" SET \"x\" = -2.5e3, \"y\" = X'0aFF' WHERE \"id\" = 7;",
       "UPDATE \"T\" SET \"x\" = -?, \"y\" = ? WHERE \"id\" = ?;", "r2500.000000 b2 i7"},
      {"DELETE FROM \"T\" WHERE rowid IN (SELECT rowid FROM \"T\" ORDER BY 2, 1 LIMIT 3)",
       "DELETE FROM \"T\" WHERE rowid IN (SELECT rowid FROM \"T\" ORDER BY 2, 1 LIMIT ?)", "i3"},
      {"insert into [we'ird] values ('a;b') -- 'note'\n",
       "insert into [we'ird] values (?) -- 'note'\n", "ta;b"},
      {"INSERT INTO t VALUES (99999999999999999999, 0x10, 'é')",
       "INSERT INTO t VALUES (99999999999999999999, 0x10, ?)", "té"},
      {"SELECT 1", nullptr, ""},
      {"CREATE TABLE t (a int DEFAULT 1)", nullptr, ""},
      {"INSERT INTO t VALUES (1); INSERT INTO t VALUES (2)", nullptr, ""},
      {"INSERT INTO t VALUES (?1)", nullptr, ""},
      {"INSERT INTO t DEFAULT VALUES", nullptr, ""},
      {"UPDATE t SET a = 'open", nullptr, ""},
      {"UPDATE t SET a = 1 /* open", nullptr, ""},
  };
  for (const auto& c : cases) {
    const auto p = Parameterize(c.sql);
    if (c.text == nullptr) {
      EXPECT_FALSE(p.has_value()) << c.sql;
      continue;
    }
    ASSERT_TRUE(p.has_value()) << c.sql;
    EXPECT_EQ(p->text, c.text);
    std::string values;
    for (const auto& v : p->values) values += (values.empty() ? "" : " ") + Shown(v);
    EXPECT_EQ(values, c.values) << c.sql;
  }
}

using StatementCacheEngine = pv::testing::EmbeddedTest;

TEST_F(StatementCacheEngine, RowsOfOneShapeGiveTheSameResultsAndErrorsAsWritten) {
  auto c = Connect();
  c->Execute("Create Table T (id int Primary Key, name nvarchar(20), flag bit, data varbinary(4))");
  for (int i = 1; i <= 3; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_EQ(c->Execute("Insert Into T (id, name, flag, data) Values (" + n + ", N'n''" + n +
                         "', 'True', 0x0" + n + ")"),
              1);
  }
  EXPECT_EQ(c->Execute("Update T Set name = N'x' Where id = 2"), 1);
  EXPECT_EQ(c->Execute("Update T Set name = N'y' Where id = 9"), 0);
  for (int i = 1; i <= 3; ++i) {
    const std::string where = " From T Where id = " + std::to_string(i);
    EXPECT_EQ(pv::testing::Scalar(*c, "Select name" + where).AsTextRef(),
              i == 2 ? "x" : "n'" + std::to_string(i));
    EXPECT_EQ(pv::testing::Scalar(*c, "Select flag" + where), Value::Bit(true));
    EXPECT_EQ(pv::testing::Scalar(*c, "Select data" + where),
              Value::Binary({static_cast<std::uint8_t>(i)}));
  }
  // Queries of one shape: names, position lists and values as written.
  for (int i = 1; i <= 2; ++i) {
    auto q =
        c->Query("Select N'lit" + std::to_string(i) +
                 "' As tag, id, N'x' From T Where id >= " + std::to_string(i) + " Order By 2 Desc");
    ASSERT_EQ(q->ColumnCount(), 3);
    EXPECT_EQ(q->ColumnName(0), "tag");
    EXPECT_EQ(q->ColumnName(2), "");
    ASSERT_TRUE(q->Next());
    EXPECT_EQ(q->Get(0), Value::Text("lit" + std::to_string(i)));
    EXPECT_EQ(q->Get(1), Value::Integer(3));
  }
  std::string text;
  EXPECT_EQ(pv::testing::DbErrorOf(
                [&] { c->Execute("Insert Into T (id, name) Values (2, N'again')"); }, &text),
            2627);
  EXPECT_NE(text.find("(2)"), std::string::npos) << text;
  EXPECT_EQ(pv::testing::DbErrorOf([&] { c->Execute("Update T Set flag = 'maybe' Where id = 1"); }),
            245);
  EXPECT_EQ(c->Execute("Delete From T Where id = 3"), 1);
  EXPECT_EQ(pv::testing::Scalar(*c, "Select Count(*) From T"), Value::Integer(2));
}

// A batch run again reuses its translation only while the schema it was
// translated under holds: after this connection's own DDL at once, after
// another program's within the second the engine trusts its schema.
TEST_F(StatementCacheEngine, ARepeatedBatchFollowsTheSchemaOfItsTable) {
  auto c = Connect();
  const std::string flagged = "Select Count(*) From T Where flag = 'True'";
  c->Execute("Create Table T (id int, flag bit); Insert Into T Values (1, 1)");
  EXPECT_EQ(pv::testing::Scalar(*c, flagged), Value::Integer(1));
  EXPECT_EQ(pv::testing::Scalar(*c, flagged), Value::Integer(1));
  c->Execute("Drop Table T; Create Table T (id int, flag nvarchar(10))");
  c->Execute("Insert Into T Values (1, N'True'), (2, N'False')");
  EXPECT_EQ(pv::testing::Scalar(*c, flagged), Value::Integer(1));  // text now, not 1

  auto other = Connect();
  other->Execute("Drop Table T; Create Table T (id int, flag bit); Insert Into T Values (5, 1)");
  other->Execute("Insert Into T Values (6, 1)");
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(pv::testing::Scalar(*c, flagged), Value::Integer(2));
  // A table the batch did not know is looked for again the next time.
  const std::string later = "Select Count(*) From Later";
  EXPECT_NE(pv::testing::DbErrorOf([&] { pv::testing::Scalar(*c, later); }), 0);
  other->Execute("Create Table Later (id int); Insert Into Later Values (1)");
  EXPECT_EQ(pv::testing::Scalar(*c, later), Value::Integer(1));
}

// Batches that differ only in their whole numbers share one translation
// where it carries the numbers through, and get their own where the number
// decides the translation (a bit, a length, a position).
TEST_F(StatementCacheEngine, BatchesDifferingInNumbersGetTheirOwnResults) {
  auto c = Connect();
  c->Execute(
      "Create Table T (id int Primary Key, name nvarchar(20), flag bit);"
      "Insert Into T Values (1, N'one', 1), (2, N'two', 0), (3, N'three', 1), (12, N'12', 0)");
  using pv::testing::Scalar;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Scalar(*c, "Select name From T Where id = 1").AsTextRef(), "one");
    EXPECT_EQ(Scalar(*c, "Select name From T Where id = 2").AsTextRef(), "two");
    EXPECT_EQ(Scalar(*c, "Select name From T Where id = 3").AsTextRef(), "three");
    EXPECT_EQ(Scalar(*c, "Select Count(*) From T Where flag = 1"), Value::Integer(2));
    EXPECT_EQ(Scalar(*c, "Select Count(*) From T Where flag = 0"), Value::Integer(2));
    EXPECT_EQ(Scalar(*c, "Select Count(*) From T Where flag = 2"), Value::Integer(2));
    EXPECT_EQ(Scalar(*c, "Select Count(*) From T Where name = '12' And id = 12"),
              Value::Integer(1));
    EXPECT_EQ(Scalar(*c, "Select Count(*) From T Where name = '12' And id = 3"), Value::Integer(0));
    EXPECT_EQ(Scalar(*c, "Select Left(name, 2) From T Where id = 3").AsTextRef(), "th");
    EXPECT_EQ(Scalar(*c, "Select Left(name, 4) From T Where id = 3").AsTextRef(), "thre");
    EXPECT_EQ(Scalar(*c, "Select Convert(varchar(1), name) From T Where id = 3").AsTextRef(), "t");
    EXPECT_EQ(Scalar(*c, "Select Convert(varchar(3), name) From T Where id = 3").AsTextRef(),
              "thr");
    for (int top = 1; top <= 3; ++top) {
      auto q = c->Query("Select Top " + std::to_string(top) + " id, name From T Order By " +
                        std::to_string(top == 3 ? 2 : 1) + " Desc");
      int rows = 0;
      while (q->Next()) {
        if (rows++ == 0) {
          EXPECT_EQ(q->Get(0), Value::Integer(top == 3 ? 2 : 12)) << top;
        }
      }
      EXPECT_EQ(rows, top);
    }
  }
}

// The catalog views answer from rows each connection keeps until the
// schema moves: every change shows at once, also another program's and one
// a rolled-back transaction undid, and a lookup by name finds what a walk
// over all rows finds.
TEST_F(StatementCacheEngine, CatalogViewsFollowEverySchemaChange) {
  using pv::testing::Scalar;
  auto c = Connect();
  auto columns = [&](const std::string& where) {
    return Scalar(*c, "Select Count(*) From INFORMATION_SCHEMA.COLUMNS Where " + where).AsInteger();
  };
  auto tables = [&](const std::string& name) {
    return Scalar(*c, "Select Count(*) From sysobjects Where name = N'" + name + "'").AsInteger();
  };
  c->Execute("Create Table T (a int)");
  EXPECT_EQ(columns("TABLE_NAME = 'T'"), 1);
  Connect()->Execute("Alter Table T Add b int");
  EXPECT_EQ(columns("TABLE_NAME = 'T'"), 2);

  c->Execute("Begin Tran; Create Table U (x int)");
  EXPECT_EQ(tables("U"), 1);
  c->Execute("Rollback Tran; Create Table V (y int, z int)");  // the schema version U had
  c->Execute("Begin Tran");  // the connection's own handle answers
  EXPECT_EQ(tables("U"), 0);
  EXPECT_EQ(columns("TABLE_NAME = 'V'"), 2);
  c->Execute("Commit Tran");
  EXPECT_EQ(columns("TABLE_NAME = 'U'"), 0);

  c->Execute("Create Table [Élan] (e int)");
  EXPECT_EQ(columns("TABLE_NAME = N'élan'"), 1);
  EXPECT_EQ(columns("TABLE_NAME = N'Elan'"), 0);
  EXPECT_EQ(columns("TABLE_NAME = 't  '"), 2);
  EXPECT_EQ(columns("TABLE_NAME = 'v' Or TABLE_NAME = N'ÉLAN' Or TABLE_NAME = 't'"), 5);
  EXPECT_EQ(columns("(TABLE_NAME = 'v' And COLUMN_NAME = 'z') Or (TABLE_NAME = 't' And "
                    "COLUMN_NAME <> 'z')"),
            3);
  EXPECT_EQ(columns("TABLE_NAME In ('t', 'v')"), 4);
  EXPECT_EQ(Scalar(*c, "Select Count(*) From INFORMATION_SCHEMA.TABLES").AsInteger(), 3);
}

}  // namespace
}  // namespace pv::db::embedded
