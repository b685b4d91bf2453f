#include <gtest/gtest.h>

#include "platform/windows_version.h"
#include "tests/fakes/fake_version_source.h"

namespace velmora {
namespace {

struct VersionRow {
  const char* name;
  ReportedVersion reported;
  uint8_t vista;
  uint8_t win7OrLater;
};

TEST(WindowsVersionTest, FlagsFollowTheReportedVersion) {
  const VersionRow rows[] = {
      {"Windows 98 on platform 1", {4, 10, 1}, 0, 0},
      {"Windows 2000", {5, 0, 2}, 0, 0},
      {"Windows XP", {5, 1, 2}, 0, 0},
      {"Server 2003", {5, 2, 2}, 0, 0},
      {"Vista", {6, 0, 2}, 1, 0},
      {"Windows 7", {6, 1, 2}, 0, 1},
      {"Windows 8", {6, 2, 2}, 0, 1},
      {"Windows 8.1", {6, 3, 2}, 0, 1},
      {"Windows 10", {10, 0, 2}, 0, 1},
      {"minor 10 reads as 6.1", {6, 10, 2}, 0, 1},
      {"6.0 on platform 1", {6, 0, 1}, 0, 0},
  };
  for (const VersionRow& row : rows) {
    const VersionFlags flags = FlagsForReportedVersion(row.reported, VersionFlags{});
    EXPECT_EQ(flags.OsIsVista, row.vista) << row.name;
    EXPECT_EQ(flags.OsIsWin7OrLater, row.win7OrLater) << row.name;
  }
}

TEST(WindowsVersionTest, PlatformOneClearsFlagsAndUnknownPlatformsKeepThem) {
  const VersionFlags set{1, 1};
  EXPECT_EQ(FlagsForReportedVersion({6, 1, 1}, set).OsIsWin7OrLater, 0);
  EXPECT_EQ(FlagsForReportedVersion({6, 1, 1}, set).OsIsVista, 0);
  // A failed query reports platform 0: the flags stay as they were.
  EXPECT_EQ(FlagsForReportedVersion({}, set).OsIsVista, 1);
  EXPECT_EQ(FlagsForReportedVersion({6, 1, 3}, set).OsIsWin7OrLater, 1);
}

TEST(WindowsVersionTest, DetectionQueriesEachTimeAndRepeatsItsAnswer) {
  testing::FakeVersionSource source(testing::kWindows7);
  WindowsVersion version(source);
  EXPECT_FALSE(version.IsVistaOrLater());  // both clear at program start
  version.DetectWindowsVersion();
  version.DetectWindowsVersion();
  EXPECT_EQ(source.queryCount, 2);
  EXPECT_TRUE(version.IsVistaOrLater());
  EXPECT_EQ(version.flags().OsIsWin7OrLater, 1);
  source.reported = testing::kWindowsXp;
  version.DetectWindowsVersion();
  EXPECT_FALSE(version.IsVistaOrLater());
}

}  // namespace
}  // namespace velmora
