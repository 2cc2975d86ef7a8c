// Photos pass through temp files: streamed exactly out of their row, loaded
// exactly into the row they belong to, and failures thrown with the numbers
// the callers sort into passing and lasting ones.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/embedded/embedded_engine.h"
#include "db/error.h"
#include "photos/image_transfer.h"
#include "photos/photo_files.h"
#include "tests/support/embedded_instance.h"
#include "tests/support/temp_dir.h"

namespace pv::photos {
namespace {

using pv::testing::DbErrorOf;

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

  // A database with a Names table holding rows 1, 2 and 4: no photo, two
  // bytes, an empty photo; and a photo kept as text (row 3 of Texts).
  db::Connection& Database() {
    db::embedded::CreateInstance(sql(), "localhost", "1433");
    db_ = db::embedded::MakeEmbeddedConnection(sql());
    db_->Open(db::ConnectionParams{"localhost", "1433", "sa", "", ""});
    db_->Execute("Create Database Portavento");
    db_->SetCurrentDatabase("Portavento");
    db_->Execute("CREATE TABLE [dbo].[Names] ([id] [int] NOT NULL, [photo] [varbinary](max) NULL)");
    db_->Execute("Insert Into Names (id, photo) Values (1, Null), (2, 0x0102), (4, Null)");
    db_->Execute("CREATE TABLE Texts (id int NOT NULL, photo nvarchar(max) NULL)");
    db_->Execute("Insert Into Texts (id, photo) Values (3, N'jpeg')");
    pv::testing::WriteFile(root_ / "empty", "");
    EXPECT_TRUE(db_->StoreFileInColumn("Names", "photo", 4, root_ / "empty"));
    return *db_;
  }

  db::Value Photo(int id) {
    auto rs = db_->Query("Select photo From Names Where id = " + std::to_string(id));
    EXPECT_TRUE(rs->Next());
    return rs->Get(0);
  }

  std::filesystem::path sql() const { return root_ / "sql"; }
  std::filesystem::path temp() const { return TempPhotoPath(root_ / "app", "00042", kPhotoSuffix); }

  pv::testing::TempDir root_;
  std::unique_ptr<db::Connection> db_;
};

TEST_F(PhotoFolderTest, SaveImageToFileStreamsTheRowsBytesOrLeavesTheOldFile) {
  db::Connection& db = Database();
  std::filesystem::create_directories(temp().parent_path());
  const db::Bytes big = Bytes(3 * 1024 * 1024 + 17, 3);
  pv::testing::WriteFile(root_ / "big", std::string(big.begin(), big.end()));
  ASSERT_TRUE(db.StoreFileInColumn("Names", "photo", 1, root_ / "big"));
  ASSERT_TRUE(SaveImageToFile(db, "Names", "photo", 1, temp()));
  EXPECT_EQ(ReadBytes(temp()), big);
  // A shorter photo leaves nothing of the longer one behind; text gives its bytes.
  ASSERT_TRUE(SaveImageToFile(db, "Names", "photo", 2, temp()));
  EXPECT_EQ(ReadBytes(temp()), db::Bytes({1, 2}));
  ASSERT_TRUE(SaveImageToFile(db, "Texts", "photo", 3, temp()));
  EXPECT_EQ(pv::testing::ReadFile(temp().string()), "jpeg");
  // No photo (empty, Null, no row): false, the file of the last transfer stays.
  db.Execute("Update Names Set photo = Null Where id = 1");
  for (int id : {4, 1, 99}) EXPECT_FALSE(SaveImageToFile(db, "Names", "photo", id, temp())) << id;
  EXPECT_EQ(pv::testing::ReadFile(temp().string()), "jpeg");

  // No folder: a lasting failure. A full disk: a passing one, no file left.
  EXPECT_EQ(DbErrorOf([&] { SaveImageToFile(db, "Names", "photo", 2, root_ / "no/x.jpg"); }),
            kErrWriteToFileFailed);
  if (std::filesystem::exists("/dev/full")) {
    const auto full = root_ / "full.jpg";
    std::filesystem::create_symlink("/dev/full", full);
    EXPECT_EQ(DbErrorOf([&] { SaveImageToFile(db, "Names", "photo", 2, full); }), kErrDiskFull);
  }
  EXPECT_NE(DbErrorOf([&] { SaveImageToFile(db, "Names", "nophoto", 2, temp()); }), 0);
}

TEST_F(PhotoFolderTest, UpdateImageInDBStoresTheFileIntoItsRowOnlyOrThrows) {
  db::Connection& db = Database();
  pv::testing::WriteFile(temp().string(), "jpeg");
  EXPECT_TRUE(UpdateImageInDB(1, "photo", "Names", temp(), db));
  EXPECT_EQ(Photo(1), db::Value::Binary({'j', 'p', 'e', 'g'}));
  EXPECT_EQ(Photo(2), db::Value::Binary({1, 2}));

  // No such row, or no path: false, nothing written.
  EXPECT_FALSE(UpdateImageInDB(99, "photo", "Names", temp(), db));
  auto closed = db::embedded::MakeEmbeddedConnection(sql());
  EXPECT_FALSE(UpdateImageInDB(1, "photo", "Names", {}, *closed));
  // Missing file, unknown column, closed connection: thrown for the change to fail.
  EXPECT_NE(DbErrorOf([&] { UpdateImageInDB(2, "photo", "Names", root_ / "gone.jpg", db); }), 0);
  EXPECT_NE(DbErrorOf([&] { UpdateImageInDB(2, "nophoto", "Names", temp(), db); }), 0);
  EXPECT_EQ(DbErrorOf([&] { UpdateImageInDB(2, "photo", "Names", temp(), *closed); }),
            db::kErrNotOpen);
  EXPECT_EQ(Photo(2), db::Value::Binary({1, 2}));
}

}  // namespace
}  // namespace pv::photos
