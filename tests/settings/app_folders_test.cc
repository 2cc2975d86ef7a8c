#include "settings/app_folders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace pv::settings {
namespace {

namespace fs = std::filesystem;

TEST(AppFolders, PreparedUnderTheApplicationDataFolderAndRecorded) {
  pv::testing::TempDir root;
  auto paths = platform::Paths::UnderRoot(root.path());
  settings::RegistryStore store(paths);

  std::string folder = PrepareAppFolders(paths, store);
#ifdef _WIN32
  // Windows paths are written with backslashes below the root.
  const std::string base = root.path().substr(0, root.path().size() - 1);
  EXPECT_EQ(folder, base + "\\var\\lib\\pvremote\\Portavento\\");
#else
  EXPECT_EQ(folder, root.path() + "var/lib/pvremote/Portavento/");
#endif
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
}  // namespace pv::settings
