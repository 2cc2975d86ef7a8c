// The scripts that make the local and home databases: how they are split and
// read, and the key column the service adds to Settings. What the other
// tables hold is read and written by the full upload, the update queue and
// the central changes in tests/sync_* (residents inserted, updated and
// removed, queue rows worked in order, lookup tables, logs, the home tables),
// each on databases these scripts made.
#include "schema/sql_scripts.h"

#include <gtest/gtest.h>

#include <string>

#include "db/error.h"
#include "tests/support/embedded_instance.h"

namespace pv::schema {
namespace {

TEST(SplitBatchesTest, GoLinesSeparateBatchesWhateverTheirCaseBlanksCountOrComment) {
  const std::string script =
      "\xEF\xBB\xBF-- header\r\n"
      "CREATE TABLE a (x int)\r\n"
      "go\r\n"
      "\r\n"
      "INSERT INTO a VALUES (1)\n"
      "  GO 3 -- three times\n"
      "GOTO done\n"
      "SELECT 'GO' AS go_column\n"
      "Go--end\n"
      "GO\n"
      "   \n";
  const std::vector<Batch> batches = SplitBatches(script);
  ASSERT_EQ(batches.size(), 3u);
  EXPECT_EQ(batches[0].text, "-- header\nCREATE TABLE a (x int)\n");
  EXPECT_EQ(batches[0].firstLine, 1);
  EXPECT_EQ(batches[1].text, "\nINSERT INTO a VALUES (1)\n");
  EXPECT_EQ(batches[1].firstLine, 4);
  EXPECT_EQ(batches[1].repeat, 3);
  EXPECT_EQ(batches[2].text, "GOTO done\nSELECT 'GO' AS go_column\n");
  EXPECT_EQ(batches[2].firstLine, 7);

  // A script without any GO is one batch; one of blanks only is none.
  EXPECT_EQ(SplitBatches("SELECT 1").size(), 1u);
  EXPECT_TRUE(SplitBatches(" \n\t\nGO\n").empty());
  EXPECT_EQ(SplitBatches("SELECT 1\nGO 0\n").size(), 1u);  // "GO 0" is not a separator
}

// The scripts themselves are read by every test that builds a site
// (tests/support/site.cc); a missing one is an error.
TEST(SqlScriptFilesTest, AMissingScriptIsAnError) {
  EXPECT_THROW(ReadSqlScript("no_such_script.sql"), std::runtime_error);
}

class LocalScriptTest : public pv::testing::EmbeddedTest {
 protected:
  LocalScriptTest() : cn_(Connect()) { RunSqlScript(*cn_, ReadSqlScript(kLocalScript)); }

  db::Value Scalar(const std::string& sql) { return pv::testing::Scalar(*cn_, sql); }
  std::int64_t ColumnCount(const std::string& column, const std::string& table) {
    return Scalar("Select Count(*) From INFORMATION_SCHEMA.COLUMNS Where COLUMN_NAME = '" + column +
                  "' And TABLE_NAME = '" + table + "'")
        .AsInteger();
  }

  std::unique_ptr<db::Connection> cn_;
};

TEST_F(LocalScriptTest, IdentificationAddsTheKeyColumnToSettingsOnce) {
  cn_->Execute("Insert Into Settings (name, zip) Values ('Maple Court', '12345');");
  EXPECT_EQ(ColumnCount("installationID", "Settings"), 0);
  const std::string add = "ALTER TABLE [dbo].[Settings] Add [installationID] [nvarchar](50) NULL;";
  cn_->Execute(add);
  EXPECT_EQ(ColumnCount("installationID", "Settings"), 1);
  // Adding it again is refused as SQL Server refuses it.
  EXPECT_EQ(pv::testing::DbErrorOf([&] { cn_->Execute(add); }), 2705);
  EXPECT_EQ(Scalar("Select name + '/' + zip From Settings").AsTextRef(), "Maple Court/12345");
}

}  // namespace
}  // namespace pv::schema
