#include "common/app_folders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "tests/common/temp_dir.h"

namespace pv::common {
namespace {

namespace fs = std::filesystem;

TEST(AppFolders, PreparedUnderTheApplicationDataFolderAndRecorded) {
  pv::testing::TempDir root;
  auto paths = platform::Paths::UnderRoot(root.path());
  settings::RegistryStore store(paths);

  std::string folder = PrepareAppFolders(paths, store);
  EXPECT_EQ(folder, root.path() + "var/lib/pvremote/Portavento/");
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(fs::is_directory(folder + "photos"));
  EXPECT_EQ(store.GetRegValue("appFolder"), folder);

  // A second start finds everything in place and keeps what is there.
  pv::testing::WriteFile(folder + "photos/temp_00001.jpg", "jpg");
  EXPECT_EQ(PrepareAppFolders(paths, store), folder);
  EXPECT_TRUE(platform::FileExists(folder + "photos/temp_00001.jpg"));
}

TEST(AppFolders, WithoutAnApplicationDataFolderTheProgramFolderIsUsed) {
  pv::testing::TempDir root;
  // A regular file where the folders would go: nothing can be created.
  pv::testing::WriteFile(root / "blocked", "x");
  auto paths = platform::Paths::UnderRoot(root / "blocked");
  settings::RegistryStore store(paths);

  EXPECT_EQ(GetAppDataFolder(paths), "");
  std::string folder = PrepareAppFolders(paths, store);
  EXPECT_EQ(folder, platform::ProgramFolder());
  EXPECT_FALSE(folder.empty());
}

}  // namespace
}  // namespace pv::common
