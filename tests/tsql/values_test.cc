// Values as SQL Server's typed columns hold them: bits, date-times, text
// (national characters, quotes, case), binary literals, '+' and CONVERT.
#include "tests/tsql/tsql_fixture.h"

namespace pv::db::tsql {
namespace {

class Values : public TsqlTest {
 protected:
  Values() {
    Run("CREATE TABLE [dbo].[T] ([id] [int] IDENTITY(1,1) NOT NULL, [flag] [bit] NULL, "
        "[at] [datetime] NULL, [name] [nvarchar](20) NULL, [n] [int] NULL, [big] [bigint] NULL, "
        "[pic] [varbinary](max) NULL, [memo] [nvarchar](max) NULL, "
        "CONSTRAINT [PK_T] PRIMARY KEY CLUSTERED ([id] ASC))");
  }
  // One row for each value of `column`, in order.
  void InsertEach(const std::string& column, std::initializer_list<const char*> values) {
    for (const char* v : values) Run("Insert Into T (" + column + ") Values (" + v + ")");
  }
};

TEST_F(Values, BitColumnsStoreTrueAndFalseAsOneAndZero) {
  InsertEach("flag", {"'True'", "'False'", "'true'", "''", "5", "Null"});
  const auto rows = Rows("Select flag From T Order By id");
  ASSERT_EQ(rows.size(), 6u);
  const bool expected[] = {true, false, true, false, true};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(rows[i][0], Value::Bit(expected[i])) << i;
  EXPECT_TRUE(rows[5][0].IsNull());

  // Comparisons and assignments take the same words.
  EXPECT_EQ(Text("Select Count(*) From T Where flag = 'True'"), "3");
  EXPECT_EQ(Text("Select Count(*) From T Where 'False' = flag"), "2");
  EXPECT_EQ(Text("Select Count(*) From T Where flag In ('True', 'False')"), "5");
  Run("Update T Set flag = 'True' Where flag = 'False'");
  EXPECT_EQ(Text("Select Count(*) From T Where flag = 1"), "5");

  // A word SQL Server cannot read as a bit is refused, in a statement or not.
  EXPECT_EQ(ErrorOf("Insert Into T (flag) Values ('maybe')"), 245);
  EXPECT_EQ(ErrorOf("Update T Set flag = 'yes'"), 245);
  EXPECT_EQ(ErrorOf("Insert Into T (flag) Select name From T"), 0);  // all Null
  Run("Insert Into T (name) Values ('True')");
  EXPECT_EQ(ErrorOf("Insert Into T (flag) Select name From T Where name = 'True'"), 245);
  EXPECT_EQ(Text("Select CONVERT(bit, 'False')"), "0");
}

TEST_F(Values, DatesInTheServiceFormsAreStoredOnceAndSortInTimeOrder) {
  InsertEach("at", {"'2026-12-04T13:05:09'", "'2026-12-04 13:05:09'", "'12/4/2026 1:05:09 PM'",
                    "'2026-12-04T13:05:09.5'", "'2025-01-31'", "''", "Null"});
  const auto rows = Rows("Select at From T Order By id");
  ASSERT_EQ(rows.size(), 7u);
  const Value at = Value::Date({2026, 12, 4, 13, 5, 9, 0});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rows[i][0], at) << i;
  EXPECT_EQ(rows[3][0], Value::Date({2026, 12, 4, 13, 5, 9, 500000000}));
  EXPECT_EQ(rows[4][0], Value::Date({2025, 1, 31, 0, 0, 0, 0}));
  EXPECT_EQ(rows[5][0], Value::Date({1900, 1, 1, 0, 0, 0, 0}));
  EXPECT_TRUE(rows[6][0].IsNull());

  // Any of the forms finds the row; order is time order.
  EXPECT_EQ(Text("Select Count(*) From T Where at = '2026-12-04 13:05:09'"), "3");
  EXPECT_EQ(Text("Select Count(*) From T Where at > '2026-12-04T13:05:09'"), "1");
  EXPECT_EQ(Text("Select Count(*) From T Where at Between '2025-01-01' And '2025-12-31'"), "1");
  EXPECT_EQ(Text("Select Top 1 at From T Where at Is Not Null Order By at Desc"),
            "2026-12-04T13:05:09.5");
  Run("Update T Set at = '2027-01-01T00:00:00' Where at = ''");
  EXPECT_EQ(Text("Select Max(at) From T"), "2027-01-01T00:00:00");

  // What SQL Server cannot read as a date is refused.
  EXPECT_EQ(ErrorOf("Insert Into T (at) Values ('2026-02-30')"), 242);  // out of range
  EXPECT_EQ(ErrorOf("Insert Into T (at) Select name From T Where 1 = 0"), 0);
  Run("Insert Into T (name) Values ('soon')");
  EXPECT_EQ(ErrorOf("Insert Into T (at) Select name From T Where name = 'soon'"), 241);

  // GetDate() gives the same stored form, in local time.
  const Value before = Scalar("Select GetDate()");
  EXPECT_EQ(before.type(), Value::Type::DateTime);
  Run("Insert Into T (at, name) Values (GetDate(), 'now')");
  const std::string stored = Text("Select at From T Where name = 'now'");
  EXPECT_LE(before.ToText(), stored);
  EXPECT_LE(stored, Text("Select GetDate()"));
  // A date plus a number of days.
  EXPECT_EQ(Text("Select Max(at) + 1 From T Where at < '2026-01-01'"), "2025-02-01T00:00:00");
}

TEST_F(Values, TextKeepsNationalCharactersAndQuotes) {
  InsertEach("name", {"N'Ελένη Παπαδάκη'", "N'東京 タワー'", "'O''Brien'", "N'Müller'", "'adams'",
                      "'Baker'"});
  EXPECT_EQ(Rows("Select name From T Where id <= 3 Order By id"),
            (std::vector<std::vector<Value>>{{Value::Text("Ελένη Παπαδάκη")},
                                             {Value::Text("東京 タワー")},
                                             {Value::Text("O'Brien")}}));
  // SQL Server's default collation (more in collation_test.cc).
  EXPECT_EQ(Text("Select id From T Where name = 'o''brien'"), "3");
  // Names of tables and columns do not depend on case either.
  EXPECT_EQ(Text("SELECT NAME FROM t WHERE ID = 6"), "Baker");
  // Longer than the column admits: refused as SQL Server refuses it.
  EXPECT_EQ(ErrorOf("Insert Into T (name) Values ('abcdefghijklmnopqrstu')"), 8152);
  Run("Insert Into T (name) Values (N'абвгдеёжзийклмнопрст')");  // 20 characters
  // nvarchar(max) takes long text.
  Run("Insert Into T (memo) Values ('" + std::string(100000, 'x') + "')");
  EXPECT_EQ(Text("Select Len(memo) From T Where memo Is Not Null"), "100000");
}

TEST_F(Values, HexLiteralsBecomeBinaryValuesByteForByte) {
  InsertEach("pic", {"0xFFD8FF00E0", "0xABC", "0x"});  // odd digits: a leading zero
  EXPECT_EQ(Rows("Select pic From T Order By id"),
            (std::vector<std::vector<Value>>{{Value::Binary({0xFF, 0xD8, 0xFF, 0x00, 0xE0})},
                                             {Value::Binary({0x0A, 0xBC})},
                                             {Value::Binary({})}}));
  EXPECT_EQ(Text("Select DataLength(pic) From T Where id = 1"), "5");
  // A photo written as a literal, as a script would insert it.
  Bytes bytes(1 << 20);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  std::string hex = "0x";
  static const char kDigits[] = "0123456789ABCDEF";
  for (std::uint8_t c : bytes) hex += {kDigits[c >> 4], kDigits[c & 15]};
  Run("Insert Into T (name, pic) Values ('photo', " + hex + ")");
  EXPECT_EQ(Scalar("Select pic From T Where name = 'photo'"), Value::Binary(bytes));
  // Text is not silently taken for binary.
  EXPECT_EQ(ErrorOf("Insert Into T (pic) Values ('abc')"), 257);
  // Integers stay integers.
  EXPECT_EQ(ErrorOf("Insert Into T (n) Values ('abc')"), 245);
  EXPECT_EQ(ErrorOf("Insert Into T (n) Values (3000000000)"), 8115);
  Run("Insert Into T (n, big) Values ('', 3000000000)");
  EXPECT_EQ(Text("Select n From T Where big = 3000000000"), "0");
}

TEST_F(Values, PlusConcatenatesTextAndAddsNumbers) {
  Run("Insert Into T (name, n, big, memo) Values ('Ann', 5, 7, 'Lee')");
  Run("Insert Into T (name, n, big, memo) Values ('Bob', 1, Null, Null)");
  const struct {
    const char* sql;
    const char* result;
  } cases[] = {
      {"Select 'a' + 'b' + N'c'", "abc"},
      {"Select 1 + 2 * 3", "7"},
      {"Select name + ' ' + memo From T Where id = 1", "Ann Lee"},
      {"Select n + big From T Where id = 1", "12"},
      {"Select n + 10 From T Where id = 1", "15"},
      // Decided per row where the kinds are not known beforehand.
      {"Select X.a + X.b From (Select name As a, memo As b From T Where id = 1) As X", "AnnLee"},
      {"Select X.a + X.b From (Select n As a, big As b From T Where id = 1) As X", "12"},
      {"Select X.a + 1 From (Select '41' As a) As X", "42"},
      // CONVERT and CAST to text.
      {"Select 'No. ' + CONVERT(nvarchar, n) From T Where id = 1", "No. 5"},
      {"Select CAST(big AS nvarchar(10)) + 'x' From T Where id = 1", "7x"},
      {"Select CONVERT(int, '42') + 1", "43"},
      {"Select IsNull(big, -1) From T Where id = 2", "-1"},
  };
  for (const auto& c : cases) EXPECT_EQ(Text(c.sql), c.result) << c.sql;
  EXPECT_TRUE(Scalar("Select name + ' ' + memo From T Where id = 2").IsNull());
  EXPECT_EQ(ErrorOf("Select X.a + 1 From (Select 'x' As a) As X"), 245);
}

}  // namespace
}  // namespace pv::db::tsql
