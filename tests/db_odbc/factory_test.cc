#include <gtest/gtest.h>

#include "db/connection.h"
#include "db/error.h"
#include "test_database.h"
#include "tests/support/temp_dir.h"

namespace pv::db {
namespace {

TEST(CreateConnection, ChoosesTheEngineByTheDriverSetting) {
  pv::testing::TempDir dir;
  // Any name but "embedded" is an ODBC driver.
  auto viaOdbc = CreateConnection(EngineOptions{" SQLite3 ", dir.path()});
  viaOdbc->Open(odbc::testing::SqliteParams(dir / "f.db"));
  EXPECT_TRUE(viaOdbc->IsOpen());
  viaOdbc->Execute("Create Table T (id integer primary key)");

  // "embedded" in any case: instances under the root, so a server that was
  // never created is unreachable (17), not an ODBC failure.
  for (const char* name : {"embedded", "EMBEDDED", "Embedded"}) {
    auto embedded = CreateConnection(EngineOptions{name, dir / "sql"});
    try {
      embedded->Open(ConnectionParams{"localhost", "1433", "sa", "", "Portavento"});
      ADD_FAILURE() << "opened a missing instance";
    } catch (const DbError& e) {
      EXPECT_EQ(e.number(), kErrServerUnreachable) << name << ": " << e.description();
    }
  }
}

}  // namespace
}  // namespace pv::db
