#include <gtest/gtest.h>

#include "db/connection.h"
#include "db/connections/central_connection.h"
#include "db/odbc/odbc_connection_string.h"
#include "db/odbc/odbc_diagnostics.h"
#include "test_database.h"

namespace pv::db::odbc {
namespace {

TEST(OdbcConnectionString, MapsFieldsToKeywordsAndBracesValuesAsTheDriverReadsThem) {
  struct Case {
    std::string driver;
    ConnectionParams params;
    std::string want;
  };
  const Case cases[] = {
      {"FreeTDS",
       {"localhost", "1433", "sa", "secret", "Portavento"},
       "DRIVER={FreeTDS};SERVER=localhost,1433;UID=sa;PWD=secret;DATABASE=Portavento;"},
      // Blanks around user, password and database are theirs ("DBIN" gives
      // them so): kept, in braces; around server and port they are dropped.
      {" ODBC Driver 18 for SQL Server ",
       {" db.example ", " 1444 ", " sa", "pw ", " Home "},
       "DRIVER={ODBC Driver 18 for SQL Server};SERVER=db.example,1444;UID={ sa};PWD={pw };"
       "DATABASE={ Home };"},
      {"FreeTDS",
       {"h", "1", "u", "  two blanks\t", "d"},
       "DRIVER={FreeTDS};SERVER=h,1;UID=u;PWD={  two blanks\t};DATABASE=d;"},
      // An empty password stays empty; no port means no comma.
      {"FreeTDS",
       {"host", "", "u", "", "d"},
       "DRIVER={FreeTDS};SERVER=host;UID=u;PWD=;DATABASE=d;"},
      // Values without separators or braces come through as they are, '=' and quotes included.
      {"FreeTDS",
       {"h", "1", "o'brien", "a=b\"c", "x"},
       "DRIVER={FreeTDS};SERVER=h,1;UID=o'brien;PWD=a=b\"c;DATABASE=x;"},
      // The standard rule: braces around, '}' written twice.
      {"ODBC Driver 18 for SQL Server",
       {"h", "1", "u", "p;w{d}", " {x}  "},
       "DRIVER={ODBC Driver 18 for SQL Server};SERVER=h,1;UID=u;PWD={p;w{d}}};"
       "DATABASE={ {x}}  };"},
      // FreeTDS (by name or by its library) reads a braced value up to the
      // first "};" and keeps "}}": no doubling.
      {"FreeTDS",
       {"h", "1", "u", "p;w{d}", "d"},
       "DRIVER={FreeTDS};SERVER=h,1;UID=u;PWD={p;w{d}};DATABASE=d;"},
      {"/usr/lib/odbc/libtdsodbc.so",
       {"h", "1", "u", "a}b", "d"},
       "DRIVER={/usr/lib/odbc/libtdsodbc.so};SERVER=h,1;UID=u;PWD={a}b};DATABASE=d;"},
  };
  for (const Case& k : cases) EXPECT_EQ(OdbcConnectionString(k.driver, k.params), k.want);

  // From "DBIN" to the connection text: the password's blanks arrive as sent.
  CentralConnectionSettings dbin;
  ReadCentralConnectionData(
      "sa\xC2\xA7 pw \xC2\xA7host\xC2\xA7Home\xC2\xA7"
      "1434\xC2\xA7",
      dbin);
  EXPECT_EQ(OdbcConnectionString("FreeTDS", CentralConnectionParams(dbin)),
            "DRIVER={FreeTDS};SERVER=host,1434;UID=sa;PWD={ pw };DATABASE=Home;");

  // ... so a value holding "};" cannot be given to FreeTDS: a clear failure, not a wrong login.
  testing::ExpectFailure(
      [] {
        OdbcConnectionString("FreeTDS", ConnectionParams{"h", "1", "u", "a};b", "d"});
      },
      kErrOdbcGeneric, {"};"});
}

}  // namespace
}  // namespace pv::db::odbc
