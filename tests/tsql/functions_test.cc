// Values and built-in functions as SQL Server computes them: sizes in bytes,
// case of every letter, Windows-1252 text without N, ISNULL's type, date-time
// styles and precision, @@ROWCOUNT, SCOPE_IDENTITY and column names.
#include "tests/tsql/tsql_fixture.h"

namespace pv::db::tsql {
namespace {

class Functions : public TsqlTest {
 protected:
  Functions() {
    Run("Create Table F (id int Identity(1,1) Primary Key, name nvarchar(20) Null, "
        "code varchar(20) Null, k5 nvarchar(5) Null, n int Null, at datetime Null)");
    Run("Insert Into F (name, code, n, at) Values "
        "(N'Élodie', 'Élodie', 7, '2026-03-07T14:05:09.12')");
    Run("Create Table Plain (name nvarchar(10) Null)");
  }
};

TEST_F(Functions, ValuesAndFunctionsComeOutAsSqlServersDo) {
  const struct {
    const char* sql;
    const char* result;  // nullptr: Null
  } cases[] = {
      {"Select DataLength(N'Élodie')", "12"},
      {"Select DataLength('Élodie')", "6"},
      {"Select DataLength(0x010203)", "3"},
      {"Select DataLength(name) From F", "12"},
      {"Select DataLength(code) From F", "6"},
      {"Select DataLength(n) From F", "4"},
      {"Select DataLength(k5) From F", nullptr},
      {"Select Upper(N'élodie ß łódź σοφία')", "ÉLODIE ß ŁÓDŹ ΣΟΦΊΑ"},
      {"Select Lower(N'ÉLODIE ŁÓDŹ ЖУК')", "élodie łódź жук"},
      {"Select CharIndex(N'LOD', N'élodie')", "2"},
      {"Select CharIndex(N'É', name) From F", "1"},
      {"Select CharIndex(N'a', N'banana', 3)", "4"},
      {"Select CharIndex(N'x', N'abc')", "0"},
      {"Select IsNull(k5, N'123456789') From F", "12345"},
      {"Select IsNull(name, N'123456789') From F", "Élodie"},
      {"Select IsNull(Null, N'xyz')", "xyz"},
      // Text without N holds Windows-1252 only.
      {"Select 'Łódź €'", "?ód? €"},
      {"Select N'Łódź €'", "Łódź €"},
      // CONVERT's date-time styles, both ways.
      {"Select Convert(nvarchar(30), at, 101) From F", "03/07/2026"},
      {"Select Convert(nvarchar(30), at, 103) From F", "07/03/2026"},
      {"Select Convert(varchar(8), at, 112) From F", "20260307"},
      {"Select Convert(nvarchar(30), at, 120) From F", "2026-03-07 14:05:09"},
      {"Select Convert(nvarchar(30), at, 121) + N'!' From F", "2026-03-07 14:05:09.120!"},
      {"Select Convert(nvarchar(30), at, 126) From F", "2026-03-07T14:05:09.120"},
      {"Select Convert(nvarchar(4), at, 112) From F", "2026"},
      {"Select Convert(nvarchar(30), n, 112) From F", "7"},
      {"Select Convert(datetime, '25/12/2026', 103)", "2026-12-25T00:00:00"},
      {"Select Convert(datetime, '12/25/2026', 101)", "2026-12-25T00:00:00"},
      {"Select Convert(datetime, '20261225', 112)", "2026-12-25T00:00:00"},
      {"Select Convert(datetime, '2026-12-25 10:00:00', 120)", "2026-12-25T10:00:00"},
      {"Select Convert(datetime, '2026-12-25T10:00:00.5', 126)", "2026-12-25T10:00:00.5"},
  };
  for (const auto& c : cases) {
    const Value v = Scalar(c.sql);
    if (c.result) {
      EXPECT_EQ(v.ToText(), c.result) << c.sql;
    } else {
      EXPECT_TRUE(v.IsNull()) << c.sql;
    }
  }
  Run("Update F Set code = 'Łódź', name = N'Łódź'");
  Run("Insert Into F (code, name) Values (N'Łódź', 'Łódź')");
  EXPECT_EQ(Rows("Select code, name From F Order By id"),
            (std::vector<std::vector<Value>>{{Value::Text("?ód?"), Value::Text("Łódź")},
                                             {Value::Text("?ód?"), Value::Text("?ód?")}}));
  EXPECT_EQ(ErrorOf("Select Convert(datetime, '31/02/2026', 103)"), 241);
  EXPECT_EQ(ErrorOf("Select Convert(nvarchar(30), at, 999) From F"), 281);
  // GetDate() in datetime's steps of 1/300 s: milliseconds end in 0, 3 or 7.
  for (int i = 0; i < 20; ++i) {
    const std::string last = Text("Select Right(Convert(nvarchar(30), GetDate(), 121), 1)");
    EXPECT_TRUE(last == "0" || last == "3" || last == "7") << last;
  }
}

TEST_F(Functions, RowCountIdentityAndNamesFollowTheLastStatement) {
  const struct {
    const char* batch;
    const char* result;  // nullptr: Null
  } cases[] = {
      {"Insert Into F (n) Values (1), (2), (3); Select @@ROWCOUNT", "3"},
      {"Update F Set n = 0 Where n <= 3; Select @@ROWCOUNT", "3"},
      {"Select @@ROWCOUNT", "1"},  // the rows the query before returned
      {"Delete From F Where n = 42; Select @@ROWCOUNT", "0"},
      {"Insert Into F (n) Values (9); Select SCOPE_IDENTITY()", "5"},
      {"Select SCOPE_IDENTITY()", "5"},
      {"Insert Into Plain (name) Values (N'x'); Select SCOPE_IDENTITY()", nullptr},
      {"Select @@IDENTITY", nullptr},
      {"Insert Into F (n) Values (10); Select @@IDENTITY", "6"},
  };
  for (const auto& c : cases) {
    const Value v = Scalar(c.batch);
    if (c.result) {
      EXPECT_EQ(v.ToText(), c.result) << c.batch;
    } else {
      EXPECT_TRUE(v.IsNull()) << c.batch;
    }
  }
  // The rows a query returned, once read.
  Rows("Select id From F Where n >= 0");
  EXPECT_EQ(Text("Select @@ROWCOUNT"), "6");
  // A column without a name has an empty name, as sqlcmd shows it.
  auto rows = cn_->Query("Select n, n + 1, name As 'who', Count(*) c, F.at, N'x', * From F");
  const char* names[] = {"n", "", "who", "c", "at", "", "id"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(rows->ColumnName(i), names[i]) << i;
}

}  // namespace
}  // namespace pv::db::tsql
