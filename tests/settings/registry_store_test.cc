#include "settings/registry_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "settings/service_settings.h"
#include "tests/support/temp_dir.h"

namespace pv::settings {
namespace {

using pv::testing::ReadFile;
using pv::testing::WriteFile;

class RegistryStoreTest : public ::testing::Test {
 protected:
  pv::testing::TempDir root;
  platform::Paths paths = platform::Paths::UnderRoot(root.path());
  RegistryStore store{paths};
};

TEST_F(RegistryStoreTest, EveryRootRoundTripsIntoItsOwnFileAndSection) {
  store.SetRegValue("sqlPort", "1500");
  store.SetRegValue("sqlPWD", "user-secret", "", kRootCurrentUser);
  store.SetRegValue("sqlPWD", "default-secret", "", kRootDefaultUser);
  store.SetRegValue("deep", "v", "", "", "Sub");
  store.SetRegValue("other", "o", "SOFTWARE\\Elsewhere");

  EXPECT_EQ(store.GetRegValue("sqlPort"), "1500");
  EXPECT_EQ(store.GetRegValue("sqlPWD", "", kRootCurrentUser), "user-secret");
  EXPECT_EQ(store.GetRegValue("sqlPWD", "", kRootDefaultUser), "default-secret");
  EXPECT_EQ(store.GetRegValue("sqlPWD"), "");  // roots do not mix
  EXPECT_EQ(store.GetRegValue("deep", "", "", "Sub"), "v");
  EXPECT_EQ(store.GetRegValue("deep"), "");
  EXPECT_EQ(store.GetRegValue("other", "SOFTWARE\\Elsewhere"), "o");
  EXPECT_EQ(store.GetRegValue("missing"), "");

  EXPECT_EQ(ReadFile(paths.MachineStore()),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillonworks Inc.\\Portavento]\n"
            "\"sqlPort\"=\"1500\"\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillonworks Inc.\\Portavento\\Sub]\n"
            "\"deep\"=\"v\"\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Elsewhere]\n"
            "\"other\"=\"o\"\n\n");
  EXPECT_NE(ReadFile(paths.CurrentUserStore())
                .find("[HKEY_CURRENT_USER\\SOFTWARE\\Quillonworks Inc.\\Portavento]\n"
                      "\"sqlPWD\"=\"user-secret\""),
            std::string::npos);
  EXPECT_NE(ReadFile(paths.DefaultUserStore())
                .find("[HKEY_USERS\\.DEFAULT\\SOFTWARE\\Quillonworks Inc.\\Portavento]"),
            std::string::npos);

  // New files hold passwords: owner only (a POSIX mode; Windows has none such).
#ifndef _WIN32
  EXPECT_EQ(std::filesystem::status(paths.MachineStore()).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
}

TEST_F(RegistryStoreTest, NamesIgnoreCaseAndEscapesRoundTrip) {
  store.SetRegValue("appFolder", "C:\\Program Files\\\"PV\"\\");
  store.SetRegValue("APPFOLDER", "/var/lib/pvremote/Portavento/");
  EXPECT_EQ(store.GetRegValue("appfolder"), "/var/lib/pvremote/Portavento/");
  store.SetRegValue("quote", "a\\b\"c");
  EXPECT_EQ(store.GetRegValue("QUOTE", "software\\quillonworks inc.\\PORTAVENTO"), "a\\b\"c");
  std::string text = ReadFile(paths.MachineStore());
  EXPECT_NE(text.find("\"quote\"=\"a\\\\b\\\"c\""), std::string::npos);
  // One line per value: the rewrite replaced the first spelling.
  EXPECT_EQ(text.find("appFolder"), std::string::npos);
  EXPECT_NE(text.find("\"APPFOLDER\"=\"/var/lib/pvremote/Portavento/\""), std::string::npos);
}

TEST_F(RegistryStoreTest, UnknownSectionsAndLinesSurviveARewrite) {
  std::string original =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; kept comment\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other Vendor]\r\n"
      "\"x\"=\"1\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillonworks Inc.\\Portavento]\r\n"
      "\"sqlUID\"=\"operator\"\r\n"
      "\"blob\"=hex:01,02,03,\\\r\n"
      "  04,05\r\n"
      "\"count\"=dword:00000010\r\n"
      "@=\"default\"\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Third]\r\n"
      "\"y\"=\"2\"\r\n";
  WriteFile(paths.MachineStore(), original);
  EXPECT_EQ(store.GetRegValue("sqlUID"), "operator");
  EXPECT_EQ(store.GetRegValue("count"), "");  // not a string value
  EXPECT_EQ(store.GetRegValue(""), "default");

  store.SetRegValue("sqlUID", "sa2");
  store.SetRegValue("appFolder", "/a/");
  std::string expected = original;
  expected.replace(expected.find("\"sqlUID\"=\"operator\""), 19, "\"sqlUID\"=\"sa2\"");
  expected.insert(expected.find("\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Third]") + 2,
                  "\"appFolder\"=\"/a/\"\r\n");
  EXPECT_EQ(ReadFile(paths.MachineStore()), expected);
  EXPECT_EQ(store.GetRegValue("count"), "");
  EXPECT_EQ(store.GetRegValue("x", "SOFTWARE\\Other Vendor"), "1");
}

TEST_F(RegistryStoreTest, ReadsAWindowsExportInUtf16WithByteOrderMark) {
  std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Quillonworks Inc.\\Portavento]\r\n"
      u"\"sqlUID\"=\"Caf\u00e9 \u00a7\"\r\n"
      u"\"sqlPWDq\"=\"097098099\"\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  WriteFile(paths.MachineStore(), bytes);
  // An export taken from a 32-bit program's view of the machine key.
  EXPECT_EQ(store.GetRegValue("sqlUID"), "Caf\xC3\xA9 \xC2\xA7");
  EXPECT_EQ(store.GetRegValue("SQLPWDQ"), "097098099");

  // A rewrite stores UTF-8 and keeps the export's content.
  store.SetRegValue("appFolder", "/x/");
  std::string rewritten = ReadFile(paths.MachineStore());
  EXPECT_EQ(rewritten.rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u);
  EXPECT_NE(rewritten.find("\"sqlUID\"=\"Caf\xC3\xA9 \xC2\xA7\""), std::string::npos);
  EXPECT_EQ(store.GetRegValue("appFolder"), "/x/");
  EXPECT_EQ(store.GetRegValue("sqlUID"), "Caf\xC3\xA9 \xC2\xA7");
}

TEST_F(RegistryStoreTest, AFailedWriteLeavesTheOldValue) {
  store.SetRegValue("sqlPort", "1433");
  EXPECT_FALSE(store.TrySetRegValue("sqlPort", "14\n33"));
  EXPECT_EQ(store.GetRegValue("sqlPort"), "1433");

  // The store's folder cannot be made: reads stay empty, writes do nothing.
  WriteFile(root / "blocked", "");
  RegistryStore blocked(platform::Paths::UnderRoot(root / "blocked"));
  EXPECT_FALSE(blocked.TrySetRegValue("sqlPort", "1"));
  EXPECT_EQ(blocked.GetRegValue("sqlPort"), "");
}

#ifndef _WIN32
// A file read once is read again only when it changed; an edit in place at
// the same size, or one that puts the old modification time back, is seen.
TEST_F(RegistryStoreTest, AnEditedFileIsReadAgainEvenAtTheSameSize) {
  namespace fs = std::filesystem;
  const std::string machine = paths.MachineStore();
  const auto rewrite = [&](const std::string& port, fs::file_time_type when) {
    WriteFile(machine,
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillonworks Inc.\\Portavento]\n"
              "\"sqlPort\"=\"" +
                  port + "\"\n");
    fs::last_write_time(machine, when);
  };
  const auto old = fs::file_time_type::clock::now() - std::chrono::seconds(30);
  rewrite("1111", old);
  EXPECT_EQ(store.GetRegValue("sqlPort"), "1111");
  EXPECT_EQ(store.GetRegValue("sqlPort"), "1111");  // from the version kept
  rewrite("2222", fs::file_time_type::clock::now());
  EXPECT_EQ(store.GetRegValue("sqlPort"), "2222");
  rewrite("3333", old);  // the old time again; its change time moved on
  EXPECT_EQ(store.GetRegValue("sqlPort"), "3333");
  RegistryStore copy = store;  // copies share what was read
  rewrite("4444", old);
  EXPECT_EQ(copy.GetRegValue("sqlPort"), "4444");
  EXPECT_EQ(store.GetRegValue("sqlPort"), "4444");
}

// Symbolic links need a privilege on Windows; the settings files are not
// linked there.
TEST_F(RegistryStoreTest, ASymbolicallyLinkedStoreStaysALink) {
  WriteFile(root / "shared/machine.reg", "");
  std::filesystem::create_directories(root / "etc/pvremote");
  std::filesystem::create_symlink(root / "shared/machine.reg", paths.MachineStore());
  store.SetRegValue("sqlPort", "1500");
  EXPECT_TRUE(std::filesystem::is_symlink(paths.MachineStore()));
  EXPECT_NE(ReadFile(root / "shared/machine.reg").find("\"sqlPort\"=\"1500\""), std::string::npos);
}

TEST_F(RegistryStoreTest, UnusableFilesAndValuesAreLoggedOnceAndReadAsDefaults) {
  const std::string machine = paths.MachineStore(), user = paths.CurrentUserStore(),
                    defaultUser = paths.DefaultUserStore();
  std::vector<std::string> log;
  std::filesystem::create_directories(std::filesystem::path(machine).parent_path());
  std::filesystem::create_symlink("/dev/zero", machine);
  // Found before the log is set: handed over when it is.
  EXPECT_EQ(ServiceSettings::Read(store).centralHost, "localhost");
  store.SetLog([&](const std::string& line, long, const std::string&) { log.push_back(line); });
  EXPECT_FALSE(store.TrySetRegValue("sqlPort", "1500"));

  std::filesystem::create_directories(std::filesystem::path(user).parent_path());
  ASSERT_EQ(::mkfifo(user.c_str(), 0600), 0);  // nobody writes to it: no waiting
  EXPECT_EQ(store.GetRegValue("sqlPWD", "", kRootCurrentUser), "");

  WriteFile(defaultUser, std::string(2 << 20, '\n'));
  EXPECT_EQ(store.GetRegValue("sqlPWD", "", kRootDefaultUser), "");
  EXPECT_FALSE(store.TrySetRegValue("sqlPWD", "x", "", kRootDefaultUser));
  EXPECT_EQ(std::filesystem::file_size(defaultUser), 2u << 20);

  std::filesystem::remove(machine);
  WriteFile(machine, "[HKEY_LOCAL_MACHINE\\" + std::string(kPortaventoKey) +
                         "]\n\"centralHost\"=\"" + std::string(100 << 10, 'h') +
                         "\"\n\"centralPort\"=\"9000\"\n");
  const ServiceSettings s = ServiceSettings::Read(store);
  EXPECT_EQ(s.centralHost, "localhost");
  EXPECT_EQ(s.centralPort, "9000");
  ServiceSettings::Read(store);

  EXPECT_EQ(log, (std::vector<std::string>{
                     "settings file " + machine + " is not a regular file",
                     "settings file " + user + " is not a regular file",
                     "settings file " + defaultUser + " is larger than 1 MiB",
                     "settings file " + machine + ": value centralHost is longer than 64 KiB"}));
}

TEST_F(RegistryStoreTest, APasswordFileOthersCanReadIsReportedAndWrittenBackPrivate) {
  std::vector<std::string> log;
  store.SetLog([&](const std::string& line, long, const std::string&) { log.push_back(line); });
  const std::string machine = paths.MachineStore();
  WriteFile(machine,
            "[HKEY_LOCAL_MACHINE\\" + std::string(kPortaventoKey) + "]\n\"sqlPWD\"=\"pw\"\n");
  ::chmod(machine.c_str(), 0644);
  EXPECT_EQ(store.GetRegValue("sqlPWD"), "pw");
  store.SetRegValue("appFolder", "/var/lib/pvremote/Portavento/");
  struct stat st {};
  ::stat(machine.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(log, std::vector<std::string>{"settings file " + machine +
                                          " holds a password and is readable by other users "
                                          "(mode 0644)"});
  // The same value again: the private file is left as it is, not rewritten.
  ::stat(machine.c_str(), &st);
  const ino_t written = st.st_ino;
  store.SetRegValue("appFolder", "/var/lib/pvremote/Portavento/");
  ::stat(machine.c_str(), &st);
  EXPECT_EQ(st.st_ino, written);
  // Open to others again: the same value is written back private.
  ::chmod(machine.c_str(), 0644);
  store.SetRegValue("appFolder", "/var/lib/pvremote/Portavento/");
  ::stat(machine.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}
#endif

}  // namespace
}  // namespace pv::settings
