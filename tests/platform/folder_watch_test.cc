#include "platform/folder_watch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/support/temp_dir.h"

namespace pv::platform {
namespace {

namespace fs = std::filesystem;

#ifdef __linux__
// Another process's change reaches the watch through its reading thread:
// the test waits for it, a bounded while.
bool SeenWithin(FolderWatch& watch, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (watch.Changed()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}
#endif

TEST(FolderWatch, SaysMaybeAfterAnyEntryChangeAndQuietOtherwise) {
  pv::testing::TempDir dir;
  FolderWatch watch(dir.path());
  EXPECT_TRUE(watch.Changed());  // the first look always probes
#ifdef __linux__
  EXPECT_FALSE(watch.Changed());
  pv::testing::WriteFile(dir / "data.txt", "x");
  ASSERT_TRUE(SeenWithin(watch, std::chrono::seconds(5)));
  EXPECT_FALSE(watch.Changed());

  // This process's own change counts at once.
  FolderWatch::Touch(dir.path());
  EXPECT_TRUE(watch.Changed());
  EXPECT_FALSE(watch.Changed());

  // Another process removing a file, then one removing the folder itself.
  const std::string rm = "rm -f '" + (dir / "data.txt") + "'";
  ASSERT_EQ(std::system(rm.c_str()), 0);
  EXPECT_TRUE(SeenWithin(watch, std::chrono::seconds(5)));
  fs::create_directory(dir / "inner");
  FolderWatch inner(dir / "inner");
  EXPECT_TRUE(inner.Changed());
  EXPECT_FALSE(inner.Changed());
  fs::remove(dir / "inner");
  EXPECT_TRUE(SeenWithin(inner, std::chrono::seconds(5)));
  // Gone, then made again: every look probes until the watch is back.
  EXPECT_TRUE(inner.Changed());
  fs::create_directory(dir / "inner");
  EXPECT_TRUE(inner.Changed());
  EXPECT_FALSE(inner.Changed());
#endif
  // Even a quiet folder is probed again once a second.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_TRUE(watch.Changed());
}

}  // namespace
}  // namespace pv::platform
