// The ODBC engine against the SQLite3 ODBC driver through unixODBC: one
// statement per command, a database file per test.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/error.h"
#include "db/odbc/odbc_connection.h"
#include "db/odbc/odbc_diagnostics.h"
#include "test_database.h"
#include "tests/support/temp_dir.h"

namespace pv::db::odbc {
namespace {

using pv::testing::TempDir;
using pv::testing::WriteFile;
using testing::ExpectFailure;
using testing::OpenSqlite;
using testing::SqliteParams;

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(n, '\0');
  for (char& b : out) b = static_cast<char>(gen());
  return out;
}

Value BinaryOf(const std::string& bytes) {
  return Value::Binary(Bytes(bytes.begin(), bytes.end()));
}

Value ReadOne(Connection& c, const std::string& sql) {
  auto rows = c.Query(sql);
  EXPECT_TRUE(rows->Next()) << sql;
  Value v = rows->Get(0);
  EXPECT_FALSE(rows->Next()) << sql;
  return v;
}

TEST(OdbcSqliteDriver, StoresAFileIntoABinaryColumnByteExact) {
  TempDir dir;
  auto c = OpenSqlite(dir / "photos.db");
  c->Execute("Create Table Photos (id integer primary key, label varchar(20), photo blob)");
  c->Execute("Insert Into Photos (id, label) Values (7, 'seven')");

  // 5 MB of every byte value, through data-at-execution chunks and chunked reads.
  const std::string photo = RandomBytes(5 * 1024 * 1024 + 17, 42);
  const std::string file = dir / "temp_00042.jpg";
  WriteFile(file, photo);
  EXPECT_TRUE(c->StoreFileInColumn("Photos", "photo", 7, file));
  EXPECT_TRUE(ReadOne(*c, "Select photo From Photos Where id = 7") == BinaryOf(photo));
  EXPECT_EQ(ReadOne(*c, "Select label From Photos Where id = 7"), Value::Text("seven"));
  // Read back part by part (SQLGetData in a loop), never whole; Null or no row: false.
  std::string back;
  EXPECT_TRUE(c->ReadColumn("Photos", "photo", 7, [&](const std::uint8_t* p, std::size_t n) {
    EXPECT_LE(n, kColumnChunk);
    back.append(reinterpret_cast<const char*>(p), n);
  }));
  EXPECT_TRUE(back == photo);
  c->Execute("Insert Into Photos (id) Values (9)");
  for (int id : {8, 9}) EXPECT_FALSE(c->ReadColumn("Photos", "photo", id, nullptr)) << id;

  // A second, smaller file replaces the value completely.
  const std::string small = RandomBytes(1000, 7);
  WriteFile(file, small);
  EXPECT_TRUE(c->StoreFileInColumn("Photos", "photo", 7, file));
  EXPECT_EQ(ReadOne(*c, "Select photo From Photos Where id = 7"), BinaryOf(small));

  // No row with that id: false, and the file is not even looked at.
  EXPECT_FALSE(c->StoreFileInColumn("Photos", "photo", 8, dir / "missing.jpg"));

  // A missing file for a present row is a failure that leaves the row alone.
  ExpectFailure([&] { c->StoreFileInColumn("Photos", "photo", 7, dir / "missing.jpg"); },
                kErrFileOpen, {"missing.jpg"});
  EXPECT_EQ(ReadOne(*c, "Select photo From Photos Where id = 7"), BinaryOf(small));

  // An empty file stores an empty value, not Null.
  WriteFile(file, "");
  EXPECT_TRUE(c->StoreFileInColumn("Photos", "photo", 7, file));
  const Value empty = ReadOne(*c, "Select photo From Photos Where id = 7");
  EXPECT_FALSE(empty.IsNull());
  EXPECT_FALSE(empty.HoldsData());

  // A bad column name is the driver's failure.
  EXPECT_THROW(c->StoreFileInColumn("Photos", "nosuch", 7, file), DbError);
}

TEST(OdbcSqliteDriver, ReadsTypedValuesAndNullsOfEveryType) {
  TempDir dir;
  auto c = OpenSqlite(dir / "types.db");
  c->Execute(
      "Create Table T (id integer primary key, b bit, i int, bi bigint, f float, dt datetime, "
      "da date, tm time, bl blob, vc varchar(50), tx text)");
  c->Execute("Insert Into T (id) Values (1)");
  c->Execute(
      "Insert Into T Values (2, 1, -42, 9000000000, 1.25, '2026-12-04 13:05:09.125', "
      "'2026-12-04', '13:05:09.25', x'00FF10', 'O''Brien', 'long text')");

  const std::pair<const char*, Value> want[] = {
      {"ID", Value::Integer(2)},
      {"b", Value::Bit(true)},
      {"i", Value::Integer(-42)},
      {"bi", Value::Integer(9000000000)},
      {"f", Value::Float(1.25)},
      {"dt", Value::Date(DateTime{2026, 12, 4, 13, 5, 9, 125000000})},
      {"da", Value::Date(DateTime{2026, 12, 4, 0, 0, 0, 0})},
      {"tm", Value::Date(DateTime{1900, 1, 1, 13, 5, 9, 250000000})},
      {"bl", Value::Binary({0x00, 0xFF, 0x10})},
      {"vc", Value::Text("O'Brien")},
      {"tx", Value::Text("long text")}};
  auto rows = c->Query("Select * From T Order By id");
  ASSERT_EQ(rows->ColumnCount(), 11);
  EXPECT_EQ(rows->ColumnName(5), "dt");
  ASSERT_TRUE(rows->Next());
  for (int i = 1; i < rows->ColumnCount(); ++i) EXPECT_TRUE(rows->Get(i).IsNull()) << i;
  ASSERT_TRUE(rows->Next());
  for (const auto& [name, value] : want) EXPECT_EQ(rows->Get(name), value) << name;
  EXPECT_FALSE(rows->Next());
  EXPECT_FALSE(rows->Next());

  // Expressions without a declared type: integer, text, float, binary, Null.
  auto expr = c->Query("Select Count(*), 'a', 2.5, x'01', Null From T");
  ASSERT_TRUE(expr->Next());
  const Value exprs[] = {Value::Integer(2), Value::Text("a"), Value::Float(2.5),
                         Value::Binary({0x01}), Value()};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(expr->Get(i), exprs[i]) << i;
}

TEST(OdbcSqliteDriver, TextTravelsAsUtf8WhateverItsLength) {
  TempDir dir;
  auto c = OpenSqlite(dir / "text.db");
  c->Execute("Create Table T (id integer primary key, name varchar(50), notes text)");
  // unixODBC converts for this narrow-only driver with UCS-2, so characters
  // beyond the Basic Multilingual Plane cannot pass through it; drivers with
  // wide entry points (FreeTDS) take them directly.
  const std::string name = "J\xC3\xBCrgen \xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC";  // Jürgen € 日本
  // Long enough for many chunks, with multi-byte characters across every boundary.
  std::string notes;
  for (int i = 0; notes.size() < 300000; ++i) {
    notes += "line " + std::to_string(i) + " \xC3\xA9\xE2\x82\xAC\xE6\x97\xA5;";
  }
  c->Execute("Insert Into T Values (1, '" + name + "', '" + notes + "')");
  EXPECT_EQ(ReadOne(*c, "Select name From T Where name = '" + name + "'"), Value::Text(name));
  const Value back = ReadOne(*c, "Select notes From T");
  ASSERT_EQ(back.type(), Value::Type::Text);
  EXPECT_EQ(back.AsTextRef().size(), notes.size());
  EXPECT_TRUE(back.AsTextRef() == notes);
  // Column names come back in UTF-8 too.
  auto rows = c->Query("Select name As \"N\xC3\xA4me\" From T");
  EXPECT_EQ(rows->ColumnName(0), "N\xC3\xA4me");
  EXPECT_EQ(rows->FindColumn("n\xC3\xA4me"), 0);
}

TEST(OdbcSqliteDriver, ReportsFailuresWithTheDriversNumberAndText) {
  TempDir dir;
  auto c = OpenSqlite(dir / "errors.db");
  c->Execute("Create Table T (id integer primary key)");
  c->Execute("Insert Into T Values (1)");

  ExpectFailure([&] { c->Execute("Select * From Nowhere"); }, 1,
                {"no such table: Nowhere", "(SQLSTATE HY000)"});
  ExpectFailure([&] { c->Execute("Insert Into T Values (1)"); }, 19, {"UNIQUE constraint failed"});
  // This driver takes one statement per command.
  ExpectFailure([&] { c->Execute("Insert Into T Values (2); Insert Into T Values (3)"); }, -1,
                {"only one SQL statement allowed"});

  // The same failures through Query, and the connection stays usable after them.
  EXPECT_THROW(c->Query("Select nothing From T"), DbError);
  EXPECT_TRUE(c->IsOpen());
  EXPECT_EQ(ReadOne(*c, "Select Count(*) From T"), Value::Integer(1));

  // Failures to connect: a database in a missing folder, a driver that is not installed.
  auto other = MakeOdbcConnection(testing::kSqliteDriver);
  EXPECT_THROW(other->Open(SqliteParams(dir / "no/such/x.db")), DbError);
  EXPECT_FALSE(other->IsOpen());
  auto missing = MakeOdbcConnection("No Such Driver");
  // The driver manager gives no number of its own.
  ExpectFailure([&] { missing->Open(SqliteParams(dir / "x.db")); }, kErrOdbcGeneric,
                {"No Such Driver", "(SQLSTATE "});
  EXPECT_FALSE(missing->IsOpen());
}

TEST(OdbcSqliteDriver, ClosesAndReopens) {
  TempDir dir;
  const auto file = dir / "reopen.db";
  auto c = OpenSqlite(file);
  EXPECT_TRUE(c->IsOpen());
  c->Execute("Create Table T (id integer primary key, v varchar(10))");
  c->Execute("Insert Into T Values (1, 'kept')");
  c->Close();
  EXPECT_FALSE(c->IsOpen());
  c->Close();  // closing twice is harmless

  for (const auto& call : std::vector<std::function<void()>>{
           [&] { c->Execute("Select 1"); },
           [&] { c->Query("Select 1"); },
           [&] { c->CurrentDatabase(); },
           [&] { c->SetCurrentDatabase("x"); },
           [&] { c->StoreFileInColumn("T", "v", 1, file); },
       }) {
    ExpectFailure(call, kErrNotOpen);
  }

  c->Open(SqliteParams(file));
  EXPECT_TRUE(c->IsOpen());
  EXPECT_EQ(ReadOne(*c, "Select v From T Where id = 1"), Value::Text("kept"));

  // Opening an open connection replaces it.
  c->Open(SqliteParams(dir / "second.db"));
  EXPECT_TRUE(c->IsOpen());
  EXPECT_THROW(c->Query("Select v From T"), DbError);
}

TEST(OdbcSqliteDriver, ExecuteConsumesTheResultAndCountsRows) {
  TempDir dir;
  auto c = OpenSqlite(dir / "count.db");
  c->Execute("Create Table T (id integer primary key, v int)");
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(c->Execute("Insert Into T Values (" + std::to_string(i) + ", 0)"), 1);
  }
  EXPECT_EQ(c->Execute("Update T Set v = 5"), 3);
  EXPECT_EQ(c->Execute("Update T Set v = 6 Where id = 99"), 0);
  EXPECT_EQ(c->Execute("Delete From T Where id = 3"), 1);
  // A query through Execute: its rows are read and discarded.
  c->Execute("Select * From T");
  // A statement without rows through Query: an empty rowset, the statement done.
  auto none = c->Query("Update T Set v = 7");
  EXPECT_EQ(none->ColumnCount(), 0);
  EXPECT_FALSE(none->Next());
  EXPECT_EQ(ReadOne(*c, "Select Sum(v) From T"), Value::Integer(14));
}

// Statements interleaved with a walk are the FreeTDS tests' business: that
// driver refuses them where this one would not.
TEST(OdbcSqliteDriver, RowsetReadsOnlyAtARowAndEndsWithItsConnection) {
  TempDir dir;
  auto c = OpenSqlite(dir / "rowset.db");
  c->Execute("Create Table Q (id integer primary key)");
  c->Execute("Insert Into Q Values (1)");
  c->Execute("Insert Into Q Values (2)");
  auto rows = c->Query("Select id From Q Order By id", Cursor::Keyset);
  EXPECT_THROW(rows->Get(0), DbError);  // no current row yet
  for (int id : {1, 2}) {
    ASSERT_TRUE(rows->Next());
    EXPECT_EQ(rows->Get("id"), Value::Integer(id));
  }
  EXPECT_FALSE(rows->Next());
  EXPECT_THROW(rows->Get(0), DbError);  // past the end

  // Closing the connection closes a rowset that is still reading; the
  // rowset may outlive the connection object.
  auto open = c->Query("Select id From Q Order By id");
  ASSERT_TRUE(open->Next());
  c->Close();
  ExpectFailure([&] { open->Next(); }, kErrNotOpen);
  auto reader = OpenSqlite(dir / "rowset.db");
  auto late = reader->Query("Select id From Q Order By id");
  ASSERT_TRUE(late->Next());
  reader.reset();
  EXPECT_THROW(late->Next(), DbError);
  late->Close();
  EXPECT_THROW(late->Next(), DbError);
}

}  // namespace
}  // namespace pv::db::odbc
