#include "platform/file_writes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "platform/files.h"
#include "platform/utf8_paths.h"
#include "tests/support/temp_dir.h"

namespace pv::platform {
namespace {

namespace fs = std::filesystem;
using pv::testing::ReadFile;
using pv::testing::WriteFile;

// How many entries the folder has, to see that no temporary file is left.
long EntryCount(const std::string& folder) {
  return std::distance(fs::directory_iterator(PathFromUtf8(folder)), fs::directory_iterator());
}

TEST(FileWrites, AppendCreatesThenAppendsAndNeverTruncates) {
  pv::testing::TempDir dir;
  const std::string file = dir / "log.txt";
  EXPECT_TRUE(AppendToFile(file, "one\r\n"));
  EXPECT_TRUE(AppendToFile(file, "two\r\n"));
  EXPECT_TRUE(AppendToFile(file, ""));
  EXPECT_EQ(ReadFile(file), "one\r\ntwo\r\n");

  // Lines appended from several threads at once stay whole.
  std::vector<std::thread> writers;
  for (char c : std::string("abcd")) {
    writers.emplace_back([&file, c] {
      for (int i = 0; i < 50; ++i) AppendToFile(file, std::string(100, c) + "\n");
    });
  }
  for (auto& t : writers) t.join();
  const std::string all = ReadFile(file);
  ASSERT_EQ(all.size(), 10u + 4 * 50 * 101);
  for (std::size_t at = 10; at < all.size(); at += 101) {
    EXPECT_EQ(all.substr(at, 101), std::string(100, all[at]) + "\n") << "at " << at;
  }

  EXPECT_FALSE(AppendToFile(dir / "missing/log.txt", "x"));
  EXPECT_FALSE(fs::exists(PathFromUtf8(dir / "missing")));
}

TEST(FileWrites, ReplaceLeavesTheOldOrTheNewFileNeverAMix) {
  pv::testing::TempDir dir;
  const std::string file = dir / "settings.reg";
  EXPECT_TRUE(ReplaceFileAtomically(file, "first"));
  EXPECT_EQ(ReadFile(file), "first");
  EXPECT_TRUE(ReplaceFileAtomically(file, "second, longer"));
  EXPECT_TRUE(ReplaceFileAtomically(file, "3"));
  EXPECT_EQ(ReadFile(file), "3");
  EXPECT_EQ(EntryCount(dir.path()), 1);

  // A reader running beside the writer sees one whole version each time.
  const std::string a(4096, 'a'), b(8192, 'b');
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 40; ++i) ReplaceFileAtomically(file, i % 2 ? a : b);
    done = true;
  });
  int reads = 0;
  while (!done) {
    const std::string seen = ReadFile(file);
    if (seen.empty()) continue;  // not opened this time (Windows: during the rename)
    EXPECT_TRUE(seen == a || seen == b || seen == "3") << seen.size() << " bytes";
    ++reads;
  }
  writer.join();
  EXPECT_GT(reads, 0);
  EXPECT_EQ(EntryCount(dir.path()), 1);

  // A target that cannot be replaced (a folder) stays as it was, and the
  // temporary file goes.
  const std::string folder = dir / "folder";
  fs::create_directory(PathFromUtf8(folder));
  EXPECT_FALSE(ReplaceFileAtomically(folder, "x"));
  EXPECT_TRUE(fs::is_directory(PathFromUtf8(folder)));
  EXPECT_FALSE(ReplaceFileAtomically(dir / "missing/settings.reg", "x"));
  EXPECT_EQ(EntryCount(dir.path()), 2);
}

#ifndef _WIN32
unsigned Mode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(FileWrites, ReplaceKeepsTheModeOfAnExistingFileAndGivesNewOnesTheModeAsked) {
  pv::testing::TempDir dir;
  const std::string file = dir / "user.reg";
  ASSERT_TRUE(ReplaceFileAtomically(file, "a", 0644));  // whatever the umask
  EXPECT_EQ(Mode(file), 0644u);
  ::chmod(file.c_str(), 0640);
  ASSERT_TRUE(ReplaceFileAtomically(file, "b"));
  EXPECT_EQ(Mode(file), 0640u);
}

TEST(FileWrites, CreatedFilesAndFoldersAreTheOwnersAloneWhateverTheUmask) {
  pv::testing::TempDir dir;
  const mode_t saved = ::umask(0);
  EXPECT_TRUE(AppendToFile(dir / "Log 120726.txt", "x"));
  for (const char* mode : {"wb", "ab"}) {
    std::FILE* f = OpenStdioFile(dir / (std::string("photo-") + mode), mode);
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_EQ(Mode(dir / (std::string("photo-") + mode)), 0600u);
  }
  EXPECT_TRUE(MakePrivateFolder(dir / "Portavento/photos/"));
  ::umask(saved);
  ASSERT_TRUE(fs::create_directory(dir / "old"));
  ::chmod((dir / "old").c_str(), 0755);
  EXPECT_TRUE(MakePrivateFolder(dir / "old"));

  EXPECT_EQ(Mode(dir / "Log 120726.txt"), 0600u);
  EXPECT_EQ(Mode(dir / "Portavento/photos"), 0700u);
  EXPECT_EQ(Mode(dir / "old"), 0700u);
  EXPECT_FALSE(MakePrivateFolder(dir / "Log 120726.txt"));
}
#endif

TEST(FileWrites, NamesOutsideAsciiAreKeptAsUtf8) {
  pv::testing::TempDir dir;
  const std::string folder = dir / "Zo\xC3\xAB \xE2\x82\xAC";  // "Zoë €"
  ASSERT_TRUE(fs::create_directory(PathFromUtf8(folder)));
  const std::string log = folder + "/Log \xC3\xA9t\xC3\xA9.txt";
  EXPECT_TRUE(AppendToFile(log, "x"));
  EXPECT_TRUE(ReplaceFileAtomically(folder + "/r\xC3\xA9g.reg", "y"));
  std::FILE* f = OpenStdioFile(folder + "/photo \xC3\xB1.jpg", "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);

  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(PathFromUtf8(folder))) {
    names.insert(Utf8FromPath(entry.path().filename()));
  }
  EXPECT_EQ(names, (std::set<std::string>{"Log \xC3\xA9t\xC3\xA9.txt", "photo \xC3\xB1.jpg",
                                          "r\xC3\xA9g.reg"}));
}

}  // namespace
}  // namespace pv::platform
