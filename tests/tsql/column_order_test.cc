// Large binary columns are stored after the others so that a file streams
// into them; everything a user sees keeps the declared order.
#include <sqlite3.h>

#include "db/embedded/embedded_engine.h"
#include "tests/tsql/tsql_fixture.h"

namespace pv::db::tsql {
namespace {

using ColumnOrder = TsqlTest;

TEST_F(ColumnOrder, LargeBinaryColumnsAreStoredLastWhileUsersSeeTheDeclaredOrder) {
  // A table as made before: SQLite text without declared positions.
  const auto file = embedded::InstanceFolder(root_, "localhost", "1433") / "Portavento.sqlite";
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(file.string().c_str(), &raw), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(raw,
                         "CREATE TABLE \"Old\" (\"id\" INT, \"photo\" VARBINARY(-1), \"d\" "
                         "NVARCHAR(5)); INSERT INTO \"Old\" VALUES (1, NULL, 'x')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(raw);
  Run("CREATE TABLE [dbo].[T] ([id] [int] NOT NULL, [photo] [varbinary](max) NULL, [d] "
      "[nvarchar](20) NULL, [pic] [image] NULL, [n] [int] NULL)\n"
      "Insert Into T Values (1, 0x41, 'a', 0x42, 10)");
  // The column headers of a query, then its first row.
  auto shape = [&](const std::string& sql) {
    auto r = cn_->Query(sql);
    std::string s;
    for (int i = 0; i < r->ColumnCount(); ++i) s += r->ColumnName(i) + " ";
    while (r->Next()) {
      s += "|";
      for (int i = 0; i < r->ColumnCount(); ++i) s += " " + r->Get(i).ToText();
    }
    return s;
  };
  const std::string kAll = "Select * From T Order By id";
  for (int pass = 0; pass < 2; ++pass) {  // as created, then after reopening
    SCOPED_TRACE(pass);
    EXPECT_EQ(shape(kAll), "id photo d pic n | 1 A a B 10");
    EXPECT_EQ(shape("Select t.*, o.d From dbo.T t Join Old o On o.id = t.id"),
              "id photo d pic n d | 1 A a B 10 x");
    EXPECT_EQ(shape("Select * From T, Old Where T.id = 1"),
              "id photo d pic n id photo d | 1 A a B 10 1  x");
    EXPECT_EQ(shape("Select * From (Select * From T) x"), "id photo d pic n | 1 A a B 10");
    EXPECT_EQ(shape("Select COLUMN_NAME, ORDINAL_POSITION From INFORMATION_SCHEMA.COLUMNS "
                    "Where TABLE_NAME = 'T' And ORDINAL_POSITION In (2, 5) Order By 2"),
              "COLUMN_NAME ORDINAL_POSITION | photo 2| n 5");
    cn_ = Connect();
  }
  Run("Insert Into T Select id + 1, photo, d, pic, n From T");
  Run("Insert Into T Values (3, Null, 'c', Null, 30)");
  EXPECT_EQ(shape("Select * From T Where id = 2"), "id photo d pic n | 2 A a B 10");
  EXPECT_EQ(shape("Select * From Old"), "id photo d | 1  x");

  // A file streams into the middle column (bounded memory); before, the row
  // was built in memory in full, as it still is for a table made before.
  const auto photo = RandomFile("photo.bin", 24 << 20);
  auto peakOfStore = [&](const std::string& table, int id) {
    const sqlite3_int64 before = sqlite3_memory_used();
    sqlite3_memory_highwater(1);
    EXPECT_TRUE(cn_->StoreFileInColumn(table, "photo", id, photo));
    return (sqlite3_memory_highwater(0) - before) >> 20;
  };
  EXPECT_LT(peakOfStore("T", 3), 8);
  EXPECT_GT(peakOfStore("Old", 1), 24);
  EXPECT_EQ(Text("Select DataLength(photo) From T Where id = 3"), std::to_string(24 << 20));

  // ALTER TABLE ADD appends, DROP COLUMN removes, as SQL Server does.
  Run("Alter Table T Drop Column d;\nAlter Table T Add [d] [nvarchar](9) NULL, [e] [bit] NULL\n"
      "Insert Into T Values (4, 0x04, Null, 40, 'z', 'True')\n"
      "Alter Table T Drop Column photo;");
  EXPECT_EQ(shape("Select * From T Where id = 4"), "id pic n d e | 4  40 z True");
  EXPECT_EQ(Text("Select Count(*) From INFORMATION_SCHEMA.COLUMNS Where TABLE_NAME = 'T' And "
                 "ORDINAL_POSITION = 5 And COLUMN_NAME = 'e'"),
            "1");
}

}  // namespace
}  // namespace pv::db::tsql
