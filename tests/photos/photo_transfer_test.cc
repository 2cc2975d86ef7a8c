// Photos pass through temp files: written exactly, loaded exactly into the
// row they belong to, and failures reported the way the callers rely on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/embedded/embedded_engine.h"
#include "photos/image_transfer.h"
#include "photos/photo_files.h"
#include "tests/support/temp_dir.h"

namespace pv::photos {
namespace {

db::Bytes Bytes(std::size_t size, std::uint8_t seed) {
  db::Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return b;
}

db::Bytes ReadBytes(const std::filesystem::path& path) {
  const std::string data = pv::testing::ReadFile(path.string());
  return db::Bytes(data.begin(), data.end());
}

class PhotoFolderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (db_) db_->Close();
  }

  // A database with a Names table holding rows 1 and 2.
  db::Connection& Database() {
    db::embedded::CreateInstance(sql(), "localhost", "1433");
    db_ = db::embedded::MakeEmbeddedConnection(sql());
    db_->Open(db::ConnectionParams{"localhost", "1433", "sa", "", ""});
    db_->Execute("Create Database Portavento");
    db_->SetCurrentDatabase("Portavento");
    db_->Execute("CREATE TABLE [dbo].[Names] ([id] [int] NOT NULL, [photo] [varbinary](max) NULL)");
    db_->Execute("Insert Into Names (id, photo) Values (1, Null)");
    db_->Execute("Insert Into Names (id, photo) Values (2, 0x0102)");
    return *db_;
  }

  db::Value Photo(int id) {
    auto rs = db_->Query("Select photo From Names Where id = " + std::to_string(id));
    EXPECT_TRUE(rs->Next());
    return rs->Get(0);
  }

  // Records the log lines of a transfer.
  common::LogFn Recorder() {
    return [this](const std::string& m, long n, const std::string& d) {
      EXPECT_EQ(m, "UpdateImageInDB()");
      EXPECT_NE(n, 0);
      EXPECT_FALSE(d.empty());
      ++logged_;
    };
  }

  std::filesystem::path sql() const { return root_ / "sql"; }
  std::filesystem::path temp() const { return TempPhotoPath(root_ / "app", "00042", kPhotoSuffix); }

  pv::testing::TempDir root_;
  std::unique_ptr<db::Connection> db_;
  int logged_ = 0;
};

TEST_F(PhotoFolderTest, SaveImageToFileWritesExactlyTheBytesAndReplacesTheOldFile) {
  std::filesystem::create_directories(temp().parent_path());
  ASSERT_TRUE(SaveImageToFile(db::Value::Binary(Bytes(100000, 1)), temp()));
  EXPECT_EQ(ReadBytes(temp()), Bytes(100000, 1));
  // A shorter photo leaves nothing of the longer one behind.
  ASSERT_TRUE(SaveImageToFile(db::Value::Binary(Bytes(10, 9)), temp()));
  EXPECT_EQ(ReadBytes(temp()), Bytes(10, 9));

  EXPECT_FALSE(SaveImageToFile(db::Value::Text("not a photo"), temp()));
  EXPECT_FALSE(SaveImageToFile(db::Value(), temp()));
  EXPECT_EQ(ReadBytes(temp()), Bytes(10, 9));
  const std::filesystem::path missing = root_ / "missing/x.jpg";
  EXPECT_FALSE(SaveImageToFile(db::Value::Binary(Bytes(10, 1)), missing));
  EXPECT_THROW(WritePhotoFile(Bytes(10, 1), missing), db::DbError);
}

TEST_F(PhotoFolderTest, UpdateImageInDBStoresTheFileIntoItsRowOnly) {
  db::Connection& db = Database();
  const db::Bytes big = Bytes(3 * 1024 * 1024 + 17, 3);
  pv::testing::WriteFile(temp().string(), std::string(big.begin(), big.end()));
  EXPECT_TRUE(UpdateImageInDB(1, "photo", "Names", temp(), db, Recorder()));
  EXPECT_TRUE(Photo(1) == db::Value::Binary(big));
  EXPECT_EQ(Photo(2), db::Value::Binary({1, 2}));

  // The next transfer of the same kind overwrites the file and the file stays.
  ASSERT_TRUE(SaveImageToFile(db::Value::Binary(Bytes(5, 4)), temp()));
  EXPECT_TRUE(UpdateImageInDB(2, "photo", "Names", temp(), db, Recorder()));
  EXPECT_EQ(Photo(2), db::Value::Binary(Bytes(5, 4)));
  EXPECT_TRUE(std::filesystem::exists(temp()));
  EXPECT_EQ(logged_, 0);
}

TEST_F(PhotoFolderTest, UpdateImageInDBFailuresAreReportedAsTheCallersExpect) {
  db::Connection& db = Database();
  pv::testing::WriteFile(temp().string(), "jpeg");

  // No such row: false, nothing logged, nothing written.
  EXPECT_FALSE(UpdateImageInDB(99, "photo", "Names", temp(), db, Recorder()));
  // Empty path: false before anything is opened (a closed connection would fail).
  auto closed = db::embedded::MakeEmbeddedConnection(sql());
  EXPECT_FALSE(UpdateImageInDB(1, "photo", "Names", {}, *closed, Recorder()));
  EXPECT_EQ(logged_, 0);

  // Missing file, unknown column, closed connection: false with one log line each.
  EXPECT_FALSE(UpdateImageInDB(1, "photo", "Names", root_ / "gone.jpg", db, Recorder()));
  EXPECT_FALSE(UpdateImageInDB(1, "nophoto", "Names", temp(), db, Recorder()));
  EXPECT_FALSE(UpdateImageInDB(1, "photo", "Names", temp(), *closed, Recorder()));
  EXPECT_EQ(logged_, 3);
  EXPECT_EQ(Photo(1), db::Value());
}

}  // namespace
}  // namespace pv::photos
