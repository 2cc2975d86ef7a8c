// Photos pass through temp files: written exactly, loaded exactly into the
// row they belong to, and failures reported the way the callers rely on.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "db/embedded/embedded_engine.h"
#include "photos/image_transfer.h"
#include "photos/photo_files.h"

namespace pv::photos {
namespace {

db::Bytes Bytes(std::size_t size, std::uint8_t seed) {
  db::Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return b;
}

db::Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return db::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Line {
  std::string message;
  long number;
  std::string detail;
};

class PhotoFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "pvphotos-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    std::filesystem::create_directories(root_ / "app" / "photos");
  }
  void TearDown() override {
    if (db_) db_->Close();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  // A database with a Names table holding rows 1 and 2.
  db::Connection& Database() {
    const auto sql = root_ / "sql";
    db::embedded::CreateInstance(sql, "localhost", "1433");
    db_ = db::embedded::MakeEmbeddedConnection(sql);
    db::ConnectionParams p{"localhost", "1433", "sa", "", ""};
    db_->Open(p);
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
    db::Value v = rs->Get(0);
    rs->Close();
    return v;
  }

  WriteLogFn Recorder() {
    return [this](const std::string& m, long n, const std::string& d) {
      lines_.push_back({m, n, d});
    };
  }

  std::filesystem::path app() const { return root_ / "app"; }

  std::filesystem::path root_;
  std::unique_ptr<db::Connection> db_;
  std::vector<Line> lines_;
};

TEST_F(PhotoFolderTest, TempFileNamesFollowTheInstallationNumber) {
  EXPECT_EQ(TempPhotoPath(app(), "00042", kPhotoSuffix), app() / "photos" / "temp_00042.jpg");
  EXPECT_EQ(TempPhotoPath(app(), "00042", kSecondPhotoSuffix),
            app() / "photos" / "temp_00042_2.jpg");
  EXPECT_EQ(TempPhotoPath(app(), "00042", kDownloadedPhotoSuffix),
            app() / "photos" / "temp_00042A.jpg");
}

TEST_F(PhotoFolderTest, SaveImageToFileWritesExactlyTheBytesAndReplacesTheOldFile) {
  const auto path = TempPhotoPath(app(), "00042", kPhotoSuffix);
  ASSERT_TRUE(SaveImageToFile(db::Value::Binary(Bytes(100000, 1)), path));
  EXPECT_EQ(ReadFile(path), Bytes(100000, 1));
  // A shorter photo leaves nothing of the longer one behind.
  ASSERT_TRUE(SaveImageToFile(db::Value::Binary(Bytes(10, 9)), path));
  EXPECT_EQ(ReadFile(path), Bytes(10, 9));

  EXPECT_FALSE(SaveImageToFile(db::Value::Text("not a photo"), path));
  EXPECT_FALSE(SaveImageToFile(db::Value(), path));
  EXPECT_EQ(ReadFile(path), Bytes(10, 9));
  EXPECT_FALSE(SaveImageToFile(db::Value::Binary(Bytes(10, 1)), app() / "missing" / "x.jpg"));
  EXPECT_THROW(WritePhotoFile(Bytes(10, 1), app() / "missing" / "x.jpg"), db::DbError);
}

TEST_F(PhotoFolderTest, UpdateImageInDBStoresTheFileIntoItsRowOnly) {
  db::Connection& db = Database();
  const auto path = TempPhotoPath(app(), "00042", kPhotoSuffix);
  const db::Bytes big = Bytes(3 * 1024 * 1024 + 17, 3);
  ASSERT_TRUE(SaveImageToFile(db::Value::Binary(big), path));
  EXPECT_TRUE(UpdateImageInDB(1, "photo", "Names", path, db, Recorder()));
  EXPECT_EQ(Photo(1), db::Value::Binary(big));
  EXPECT_EQ(Photo(2), db::Value::Binary({1, 2}));

  // The next transfer of the same kind overwrites the file and the file stays.
  ASSERT_TRUE(SaveImageToFile(db::Value::Binary(Bytes(5, 4)), path));
  EXPECT_TRUE(UpdateImageInDB(2, "photo", "Names", path, db, Recorder()));
  EXPECT_EQ(Photo(2), db::Value::Binary(Bytes(5, 4)));
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_TRUE(lines_.empty());
}

TEST_F(PhotoFolderTest, UpdateImageInDBFailuresAreReportedAsTheCallersExpect) {
  db::Connection& db = Database();
  const auto path = TempPhotoPath(app(), "00042", kPhotoSuffix);
  ASSERT_TRUE(SaveImageToFile(db::Value::Binary(Bytes(50, 5)), path));

  // No such row: false, nothing logged, nothing written.
  EXPECT_FALSE(UpdateImageInDB(99, "photo", "Names", path, db, Recorder()));
  EXPECT_TRUE(lines_.empty());

  // Empty path: false before anything is opened (a closed connection would fail).
  auto closed = db::embedded::MakeEmbeddedConnection(root_ / "sql");
  EXPECT_FALSE(UpdateImageInDB(1, "photo", "Names", {}, *closed, Recorder()));
  EXPECT_TRUE(lines_.empty());

  // Missing file, unknown column, closed connection: false with one log line each.
  EXPECT_FALSE(UpdateImageInDB(1, "photo", "Names", app() / "photos" / "gone.jpg", db, Recorder()));
  EXPECT_FALSE(UpdateImageInDB(1, "nophoto", "Names", path, db, Recorder()));
  EXPECT_FALSE(UpdateImageInDB(1, "photo", "Names", path, *closed, Recorder()));
  ASSERT_EQ(lines_.size(), 3u);
  for (const Line& l : lines_) {
    EXPECT_EQ(l.message, "UpdateImageInDB()");
    EXPECT_NE(l.number, 0);
    EXPECT_FALSE(l.detail.empty());
  }
  EXPECT_EQ(Photo(1), db::Value());
}

}  // namespace
}  // namespace pv::photos
