#include <gtest/gtest.h>

#include "db/connection.h"
#include "db/error.h"
#include "db/odbc/odbc_connection_string.h"

namespace pv::db::odbc {
namespace {

ConnectionParams Params(std::string server, std::string port, std::string user,
                        std::string password, std::string database) {
  return ConnectionParams{std::move(server), std::move(port), std::move(user), std::move(password),
                          std::move(database)};
}

TEST(OdbcConnectionString, MapsFieldsToOdbcKeywordsAndTrimsValues) {
  EXPECT_EQ(
      OdbcConnectionString("FreeTDS", Params("localhost", "1433", "sa", "secret", "Portavento")),
      "DRIVER={FreeTDS};SERVER=localhost,1433;UID=sa;PWD=secret;DATABASE=Portavento;");
  // Blanks around values are dropped (FreeTDS would keep them as part of the value).
  EXPECT_EQ(OdbcConnectionString(" ODBC Driver 18 for SQL Server ",
                                 Params(" db.example ", " 1444 ", " sa", "pw ", " Home ")),
            "DRIVER={ODBC Driver 18 for SQL Server};SERVER=db.example,1444;UID=sa;PWD=pw;"
            "DATABASE=Home;");
  // An empty password stays empty; no port means no comma.
  EXPECT_EQ(OdbcConnectionString("FreeTDS", Params("host", "", "u", "", "d")),
            "DRIVER={FreeTDS};SERVER=host;UID=u;PWD=;DATABASE=d;");
  // Values without special characters come through as they are, '=' and quotes included.
  EXPECT_EQ(OdbcConnectionString("FreeTDS", Params("h", "1", "o'brien", "a=b\"c", "x")),
            "DRIVER={FreeTDS};SERVER=h,1;UID=o'brien;PWD=a=b\"c;DATABASE=x;");
}

TEST(OdbcConnectionString, BraceQuotesValuesWithSeparatorsOrBraces) {
  // The standard rule: braces around, '}' written twice.
  EXPECT_EQ(QuoteOdbcValue("pa;ss"), "{pa;ss}");
  EXPECT_EQ(QuoteOdbcValue("a{b"), "{a{b}");
  EXPECT_EQ(QuoteOdbcValue("a}b}"), "{a}}b}}}");
  EXPECT_EQ(QuoteOdbcValue("  {x}  "), "{{x}}}");
  EXPECT_EQ(
      OdbcConnectionString("ODBC Driver 18 for SQL Server", Params("h", "1", "u", "p;w{d}", "d")),
      "DRIVER={ODBC Driver 18 for SQL Server};SERVER=h,1;UID=u;PWD={p;w{d}}};DATABASE=d;");
  // FreeTDS reads a braced value up to the first "};" and keeps "}}": no doubling.
  EXPECT_EQ(BraceRuleFor("FreeTDS"), BraceRule::FreeTds);
  EXPECT_EQ(BraceRuleFor("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"), BraceRule::FreeTds);
  EXPECT_EQ(BraceRuleFor("SQLite3"), BraceRule::Doubled);
  EXPECT_EQ(OdbcConnectionString("FreeTDS", Params("h", "1", "u", "p;w{d}", "d")),
            "DRIVER={FreeTDS};SERVER=h,1;UID=u;PWD={p;w{d}};DATABASE=d;");
  // ... so a value holding "};" cannot be given to it: a clear failure, not a wrong login.
  try {
    OdbcConnectionString("FreeTDS", Params("h", "1", "u", "a};b", "d"));
    FAIL() << "expected DbError";
  } catch (const DbError& e) {
    EXPECT_NE(e.description().find("};"), std::string::npos);
  }
}

TEST(OdbcConnectionString, MapsTheAdoTextOperatorsPaste) {
  const std::string ado =
      "MSDASQL;DRIVER={SQL Server};SERVER=central.example,1433;trusted_connection=no;"
      "user id= sa;password=secret;database=Home;";
  EXPECT_EQ(OdbcConnectionStringFromAdo("FreeTDS", ado),
            "DRIVER={FreeTDS};SERVER=central.example,1433;trusted_connection=no;UID=sa;"
            "PWD=secret;DATABASE=Home;");
  // The same text as AdoConnectionString writes it maps like the fields do.
  const ConnectionParams p = Params("localhost", "1433", "sa", "", "Portavento");
  EXPECT_EQ(OdbcConnectionStringFromAdo("FreeTDS", AdoConnectionString(p)),
            "DRIVER={FreeTDS};SERVER=localhost,1433;trusted_connection=no;UID=sa;PWD=;"
            "DATABASE=Portavento;");
  // Provider= form, other spellings of the keywords, quoted values, stray blanks.
  EXPECT_EQ(
      OdbcConnectionStringFromAdo("ODBC Driver 18 for SQL Server",
                                  " Provider=MSDASQL ; Data Source = h,1 ; UID = u ; PWD=\"a;b\" ; "
                                  "Initial Catalog='x' ;Encrypt=no"),
      "DRIVER={ODBC Driver 18 for SQL Server};SERVER=h,1;UID=u;PWD={a;b};DATABASE=x;"
      "Encrypt=no;");
  // A braced value with a doubled '}' is unquoted, then quoted again for the driver.
  EXPECT_EQ(OdbcConnectionStringFromAdo("SQLite3", "password={a}}b;c};user id=u"),
            "DRIVER={SQLite3};PWD={a}}b;c};UID=u;");
  EXPECT_EQ(OdbcConnectionStringFromAdo("FreeTDS", "password={a}}b;c};user id=u"),
            "DRIVER={FreeTDS};PWD={a}b;c};UID=u;");
  // A driver other than "SQL Server" is what the operator meant; no DRIVER gets the setting.
  EXPECT_EQ(OdbcConnectionStringFromAdo("FreeTDS", "DRIVER={SQLite3};database=/tmp/x.db"),
            "DRIVER={SQLite3};DATABASE=/tmp/x.db;");
  EXPECT_EQ(OdbcConnectionStringFromAdo("FreeTDS", "server=h"), "DRIVER={FreeTDS};SERVER=h;");
  // Nothing usable: the driver alone.
  EXPECT_EQ(OdbcConnectionStringFromAdo("FreeTDS", ";;MSDASQL;;"), "DRIVER={FreeTDS};");
  // An unterminated brace is kept as text, quoted.
  EXPECT_EQ(OdbcConnectionStringFromAdo("SQLite3", "pwd={abc"), "DRIVER={SQLite3};PWD={{abc};");
}

}  // namespace
}  // namespace pv::db::odbc
