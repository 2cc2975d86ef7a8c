#include "common/daily_log.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <tuple>

#include "tests/support/temp_dir.h"

namespace pv::common {
namespace {

using Clock = std::chrono::system_clock;

Clock::time_point Local(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  std::tie(tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_isdst) =
      std::tuple(year - 1900, month - 1, day, hour, minute, second, -1);
  return Clock::from_time_t(std::mktime(&tm));
}

TEST(DailyLog, LineCarriesNumberAndDetailOnlyWhenPresent) {
  auto t = Local(2026, 12, 4, 13, 5, 9);
  EXPECT_EQ(DailyLog::FormatLine(t, "Remote Started", 0, ""), "120426 01:05:09 PM Remote Started");
  EXPECT_EQ(DailyLog::FormatLine(t, "Open_cn", 18456, ""), "120426 01:05:09 PM Open_cn - 18456");
  EXPECT_EQ(DailyLog::FormatLine(t, "CheckForTables()", 0, "bad"),
            "120426 01:05:09 PM CheckForTables() - bad");
  EXPECT_EQ(DailyLog::FormatLine(t, "TransferDataToCX()", -2147217900, "Invalid object name"),
            "120426 01:05:09 PM TransferDataToCX() - -2147217900 - Invalid object name");
  // Midnight and noon on the 12-hour clock.
  EXPECT_EQ(DailyLog::FormatLine(Local(2027, 1, 2, 0, 0, 1), "m", 0, ""), "010227 12:00:01 AM m");
  EXPECT_EQ(DailyLog::FormatLine(Local(2027, 1, 2, 12, 30, 0), "m", 0, ""), "010227 12:30:00 PM m");
  EXPECT_EQ(DailyLog::FileName(t), "Log 120426.txt");
}

TEST(DailyLog, AppendsCrLfLinesToOneFilePerDay) {
  pv::testing::TempDir dir;
  auto now = Local(2026, 12, 4, 9, 0, 0);
  DailyLog log(dir.path(), [&] { return now; });
  log.WriteLog("Remote Started");
  now += std::chrono::minutes(1);
  log.WriteLog("Open_cn", 17, "Server does not exist");
  now = Local(2026, 12, 5, 8, 0, 0);
  log.WriteLog("Remote Shutdown");

  EXPECT_EQ(pv::testing::ReadFile(dir / "Log 120426.txt"),
            "120426 09:00:00 AM Remote Started\r\n"
            "120426 09:01:00 AM Open_cn - 17 - Server does not exist\r\n");
  EXPECT_EQ(pv::testing::ReadFile(dir / "Log 120526.txt"),
            "120526 08:00:00 AM Remote Shutdown\r\n");
}

TEST(DailyLog, MissingOrUnsetFolderLosesTheLineSilently) {
  pv::testing::TempDir dir;
  std::string missing = dir / "gone/";
  DailyLog log(missing);
  log.WriteLog("lost", 1, "line");
  EXPECT_FALSE(std::filesystem::exists(missing));

  DailyLog unset;
  unset.WriteLog("also lost");
  unset.SetAppFolder(dir.path());
  unset.WriteLog("kept");
  // One file, with the one line written after the folder was set.
  std::filesystem::directory_iterator files(dir.path());
  ASSERT_NE(files, std::filesystem::directory_iterator());
  EXPECT_NE(pv::testing::ReadFile(files->path().string()).find("kept\r\n"), std::string::npos);
  EXPECT_EQ(++files, std::filesystem::directory_iterator());
}

}  // namespace
}  // namespace pv::common
