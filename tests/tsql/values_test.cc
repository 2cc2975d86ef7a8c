// Values as SQL Server's typed columns hold them: bits, date-times, text
// (national characters, quotes, case), binary literals, '+' and CONVERT.
#include <gtest/gtest.h>

#include "db/tsql/literals.h"
#include "tests/tsql/tsql_test_db.h"

namespace pv::db::tsql::testing {
namespace {

class Values : public ::testing::Test {
 protected:
  void SetUp() override {
    db.Run(
        "CREATE TABLE [dbo].[T] ("
        "[id] [int] IDENTITY(1,1) NOT NULL, "
        "[flag] [bit] NULL, "
        "[at] [datetime] NULL, "
        "[name] [nvarchar](20) NULL, "
        "[n] [int] NULL, "
        "[big] [bigint] NULL, "
        "[pic] [varbinary](max) NULL, "
        "[memo] [nvarchar](max) NULL, "
        "CONSTRAINT [PK_T] PRIMARY KEY CLUSTERED ([id] ASC))");
  }
  TestDb db;
};

TEST_F(Values, BitColumnsStoreTrueAndFalseAsOneAndZero) {
  db.Run("Insert Into T (flag) Values ('True')");
  db.Run("Insert Into T (flag) Values ('False')");
  db.Run("Insert Into T (flag) Values ('true')");
  db.Run("Insert Into T (flag) Values ('')");
  db.Run("Insert Into T (flag) Values (5)");
  db.Run("Insert Into T (flag) Values (Null)");
  const auto rows = db.Run("Select flag From T Order By id");
  ASSERT_EQ(rows.size(), 6u);
  const int expected[] = {1, 0, 1, 0, 1};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(rows[i][0].type, SQLITE_INTEGER) << i;
    EXPECT_EQ(rows[i][0].integer, expected[i]) << i;
  }
  EXPECT_TRUE(rows[5][0].IsNull());
  EXPECT_EQ(db.DeclaredType("Select flag From T", 0), "BIT");

  // Comparisons and assignments take the same words.
  EXPECT_EQ(db.Scalar("Select Count(*) From T Where flag = 'True'"), "3");
  EXPECT_EQ(db.Scalar("Select Count(*) From T Where 'False' = flag"), "2");
  EXPECT_EQ(db.Scalar("Select Count(*) From T Where flag In ('True', 'False')"), "5");
  db.Run("Update T Set flag = 'True' Where flag = 'False'");
  EXPECT_EQ(db.Scalar("Select Count(*) From T Where flag = 1"), "5");

  // A word SQL Server cannot read as a bit is refused, in a statement or not.
  EXPECT_EQ(db.ErrorOf("Insert Into T (flag) Values ('maybe')"), 245);
  EXPECT_EQ(db.ErrorOf("Update T Set flag = 'yes'"), 245);
  EXPECT_EQ(db.ErrorOf("Insert Into T (flag) Select name From T"), 0);  // all Null
  db.Run("Insert Into T (name) Values ('True')");
  EXPECT_EQ(db.ErrorOf("Insert Into T (flag) Select name From T Where name = 'True'"), 245);
  EXPECT_EQ(db.Scalar("Select CONVERT(bit, 'False')"), "0");
}

TEST_F(Values, DatesInTheServiceFormsAreStoredOnceAndSortInTimeOrder) {
  db.Run("Insert Into T (at) Values ('2026-12-04T13:05:09')");
  db.Run("Insert Into T (at) Values ('2026-12-04 13:05:09')");
  db.Run("Insert Into T (at) Values ('12/4/2026 1:05:09 PM')");
  db.Run("Insert Into T (at) Values ('2026-12-04T13:05:09.5')");
  db.Run("Insert Into T (at) Values ('2025-01-31')");
  db.Run("Insert Into T (at) Values ('')");
  db.Run("Insert Into T (at) Values (Null)");
  const auto rows = db.Run("Select at From T Order By id");
  ASSERT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows[0][0].text, "2026-12-04 13:05:09.000");
  EXPECT_EQ(rows[1][0].text, rows[0][0].text);
  EXPECT_EQ(rows[2][0].text, rows[0][0].text);
  EXPECT_EQ(rows[3][0].text, "2026-12-04 13:05:09.500");
  EXPECT_EQ(rows[4][0].text, "2025-01-31 00:00:00.000");
  EXPECT_EQ(rows[5][0].text, "1900-01-01 00:00:00.000");
  EXPECT_TRUE(rows[6][0].IsNull());
  EXPECT_EQ(db.DeclaredType("Select at From T", 0), "DATETIME");

  // Any of the forms finds the row; order is time order.
  EXPECT_EQ(db.Scalar("Select Count(*) From T Where at = '2026-12-04 13:05:09'"), "3");
  EXPECT_EQ(db.Scalar("Select Count(*) From T Where at > '2026-12-04T13:05:09'"), "1");
  EXPECT_EQ(db.Scalar("Select Count(*) From T Where at Between '2025-01-01' And '2025-12-31'"),
            "1");
  EXPECT_EQ(db.Scalar("Select Top 1 at From T Where at Is Not Null Order By at Desc"),
            "2026-12-04 13:05:09.500");
  db.Run("Update T Set at = '2027-01-01T00:00:00' Where at = ''");
  EXPECT_EQ(db.Scalar("Select Max(at) From T"), "2027-01-01 00:00:00.000");

  // What SQL Server cannot read as a date is refused.
  EXPECT_EQ(db.ErrorOf("Insert Into T (at) Values ('2026-02-30')"), 241);
  EXPECT_EQ(db.ErrorOf("Insert Into T (at) Values ('tomorrow')"), 241);
  EXPECT_EQ(db.ErrorOf("Insert Into T (at) Select name From T Where 1 = 0"), 0);
  db.Run("Insert Into T (name) Values ('soon')");
  EXPECT_EQ(db.ErrorOf("Insert Into T (at) Select name From T Where name = 'soon'"), 241);

  // GetDate() gives the same stored form, in local time.
  const std::string before = db.Scalar("Select GetDate()");
  EXPECT_TRUE(IsStoredDateTime(before)) << before;
  db.Run("Insert Into T (at, name) Values (GetDate(), 'now')");
  const std::string after = db.Scalar("Select GetDate()");
  const std::string stored = db.Scalar("Select at From T Where name = 'now'");
  EXPECT_LE(before, stored);
  EXPECT_LE(stored, after);
  // A date plus a number of days.
  EXPECT_EQ(db.Scalar("Select Max(at) + 1 From T Where at < '2026-01-01'"),
            "2025-02-01 00:00:00.000");
}

TEST_F(Values, TextKeepsNationalCharactersQuotesAndComparesWithoutCase) {
  db.Run("Insert Into T (name) Values (N'Ελένη Παπαδάκη')");
  db.Run("Insert Into T (name) Values (N'東京 タワー')");
  db.Run("Insert Into T (name) Values ('O''Brien')");
  db.Run("Insert Into T (name) Values (N'Müller')");
  db.Run("Insert Into T (name) Values ('adams')");
  db.Run("Insert Into T (name) Values ('Baker')");
  EXPECT_EQ(db.Scalar("Select name From T Where id = 1"), "Ελένη Παπαδάκη");
  EXPECT_EQ(db.Scalar("Select name From T Where id = 2"), "東京 タワー");
  EXPECT_EQ(db.Scalar("Select name From T Where id = 3"), "O'Brien");
  // SQL Server's default collation: case does not matter, trailing blanks neither.
  EXPECT_EQ(db.Scalar("Select id From T Where name = 'o''brien'"), "3");
  EXPECT_EQ(db.Scalar("Select id From T Where name = N'MÜLLER'"), "4");
  EXPECT_EQ(db.Scalar("Select id From T Where name = N'ελένη παπαδάκη'"), "1");
  EXPECT_EQ(db.Scalar("Select id From T Where name = 'Adams   '"), "5");
  EXPECT_EQ(db.Scalar("Select Top 1 name From T Where id > 2 Order By name"), "adams");
  // Names of tables and columns do not depend on case either.
  EXPECT_EQ(db.Scalar("SELECT NAME FROM t WHERE ID = 6"), "Baker");
  // Longer than the column admits: refused as SQL Server refuses it.
  EXPECT_EQ(db.ErrorOf("Insert Into T (name) Values ('abcdefghijklmnopqrstu')"), 8152);
  db.Run("Insert Into T (name) Values (N'абвгдеёжзийклмнопрст')");  // 20 characters
  // nvarchar(max) takes long text.
  db.Run("Insert Into T (memo) Values ('" + std::string(100000, 'x') + "')");
  EXPECT_EQ(db.Scalar("Select Len(memo) From T Where memo Is Not Null"), "100000");
}

TEST_F(Values, HexLiteralsBecomeBinaryValuesByteForByte) {
  db.Run("Insert Into T (pic) Values (0xFFD8FF00E0)");
  db.Run("Insert Into T (pic) Values (0xABC)");  // odd digits: a leading zero
  db.Run("Insert Into T (pic) Values (0x)");
  const auto rows = db.Run("Select pic From T Order By id");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0].type, SQLITE_BLOB);
  EXPECT_EQ(rows[0][0].text, std::string("\xFF\xD8\xFF\x00\xE0", 5));
  EXPECT_EQ(rows[1][0].text, std::string("\x0A\xBC", 2));
  EXPECT_EQ(rows[2][0].type, SQLITE_BLOB);
  EXPECT_EQ(rows[2][0].text, "");
  EXPECT_EQ(db.Scalar("Select DataLength(pic) From T Where id = 1"), "5");
  // A photo written as a literal, as a script would insert it.
  std::string bytes(1 << 20, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  std::string hex = "0x";
  static const char kDigits[] = "0123456789ABCDEF";
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  db.Run("Insert Into T (name, pic) Values ('photo', " + hex + ")");
  EXPECT_EQ(db.Run("Select pic From T Where name = 'photo'")[0][0].text, bytes);
  // Text is not silently taken for binary.
  EXPECT_EQ(db.ErrorOf("Insert Into T (pic) Values ('abc')"), 257);
  // Integers stay integers.
  EXPECT_EQ(db.ErrorOf("Insert Into T (n) Values ('abc')"), 245);
  EXPECT_EQ(db.ErrorOf("Insert Into T (n) Values (3000000000)"), 8115);
  db.Run("Insert Into T (n, big) Values ('', 3000000000)");
  EXPECT_EQ(db.Scalar("Select n From T Where big = 3000000000"), "0");
}

TEST_F(Values, PlusConcatenatesTextAndAddsNumbers) {
  db.Run("Insert Into T (name, n, big, memo) Values ('Ann', 5, 7, 'Lee')");
  db.Run("Insert Into T (name, n, big, memo) Values ('Bob', 1, Null, Null)");
  EXPECT_EQ(db.Scalar("Select 'a' + 'b' + N'c'"), "abc");
  EXPECT_EQ(db.Scalar("Select 1 + 2 * 3"), "7");
  EXPECT_EQ(db.Scalar("Select name + ' ' + memo From T Where id = 1"), "Ann Lee");
  EXPECT_EQ(db.Scalar("Select name + ' ' + memo From T Where id = 2"), "NULL");
  EXPECT_EQ(db.Scalar("Select n + big From T Where id = 1"), "12");
  EXPECT_EQ(db.Scalar("Select n + 10 From T Where id = 1"), "15");
  // Decided per row where the kinds are not known beforehand.
  EXPECT_EQ(db.Scalar("Select X.a + X.b From (Select name As a, memo As b From T Where id = 1) "
                      "As X"),
            "AnnLee");
  EXPECT_EQ(db.Scalar("Select X.a + X.b From (Select n As a, big As b From T Where id = 1) As X"),
            "12");
  EXPECT_EQ(db.Scalar("Select X.a + 1 From (Select '41' As a) As X"), "42");
  EXPECT_EQ(db.ErrorOf("Select X.a + 1 From (Select 'x' As a) As X"), 245);
  // CONVERT and CAST to text.
  EXPECT_EQ(db.Scalar("Select 'No. ' + CONVERT(nvarchar, n) From T Where id = 1"), "No. 5");
  EXPECT_EQ(db.Scalar("Select CAST(big AS nvarchar(10)) + 'x' From T Where id = 1"), "7x");
  EXPECT_EQ(db.Scalar("Select CONVERT(int, '42') + 1"), "43");
  EXPECT_EQ(db.Scalar("Select IsNull(big, -1) From T Where id = 2"), "-1");
}

}  // namespace
}  // namespace pv::db::tsql::testing
