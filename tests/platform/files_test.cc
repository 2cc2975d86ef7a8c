#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace pv::platform {
namespace {

namespace fs = std::filesystem;
using pv::testing::WriteFile;

TEST(Files, ExistsTellsFilesFromDirectoriesAndMatchesWildcards) {
  pv::testing::TempDir dir;
  WriteFile(dir / "photos/temp_00001.jpg", "a");
  WriteFile(dir / "photos/temp_00001_2.jpg", "b");
  fs::create_directory(dir / "photos/sub.jpg");

  EXPECT_TRUE(FileExists(dir / "photos/temp_00001.jpg", kAttrFiles));
  EXPECT_FALSE(FileExists(dir / "photos/temp_00001.jpg", kAttrDirectory));
  EXPECT_TRUE(FileExists(dir / "photos", kAttrDirectory));
  EXPECT_TRUE(FileExists(dir / "photos/", kAttrDirectory));
  EXPECT_FALSE(FileExists(dir / "photos", kAttrFiles));
  EXPECT_FALSE(FileExists(dir / "nothing.jpg"));
  EXPECT_FALSE(FileExists(""));

  EXPECT_TRUE(FileExists(dir / "photos/*.jpg"));
  EXPECT_TRUE(FileExists(dir / "photos/temp_0000?_2.jpg"));
  EXPECT_FALSE(FileExists(dir / "photos/temp_?.jpg"));
  EXPECT_TRUE(FileExists(dir / "photos/s*.jpg", kAttrDirectory));
  EXPECT_FALSE(FileExists(dir / "photos/s*.jpg", kAttrFiles));
  EXPECT_FALSE(FileExists(dir / "missing/*.jpg"));
}

TEST(Files, DeleteRemovesMatchingFilesOnlyAndNeverFails) {
  pv::testing::TempDir dir;
  WriteFile(dir / "a.jpg", "a");
  WriteFile(dir / "b.jpg", "b");
  WriteFile(dir / "keep.txt", "k");
  fs::create_directory(dir / "d.jpg");

  DeleteFile(dir / "a.jpg");
  EXPECT_FALSE(fs::exists(dir / "a.jpg"));
  DeleteFile(dir / "a.jpg");  // already gone
  DeleteFile(dir / "missing/x");
  DeleteFile("");
  DeleteFile(dir / "*.jpg");
  EXPECT_FALSE(fs::exists(dir / "b.jpg"));
  EXPECT_TRUE(fs::is_directory(dir / "d.jpg"));
  EXPECT_TRUE(fs::exists(dir / "keep.txt"));
}

}  // namespace
}  // namespace pv::platform
