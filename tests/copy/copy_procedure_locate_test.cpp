#include <gtest/gtest.h>

#include "copy/copy_procedure.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"
#include "tests/fakes/fake_version_source.h"

namespace velmora {
namespace {

constexpr const char* kKey = "Software\\Velmora\\Info";
constexpr const char* kDriveUnknown = "\u3000インストールＣＤの挿入ドライブ名が不明です。";
constexpr const char* kDestinationUnknown = "\u3000コピー先のパスが不明です。";
constexpr const char* kInsertCd = " ドライブにインストールＣＤをセットして下さい。";

class LocateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs.AddFile("E:\\setup.exe");
    fs.AddFolder("E:\\PCMaster");
  }
  void Record(const char* name, const char* value) { registry.SetString(kKey, name, value); }
  std::string Run() {
    procedure.ResultMessage.clear();
    procedure.RunCopy();
    return procedure.ResultMessage;
  }

  testing::FakeRegistry registry;
  testing::FakeSettingsStore store;
  testing::FakeVersionSource versionSource{testing::kWindowsXp};
  testing::FakeFileSystem fs{'\\'};
  InstallerSettings settings{registry, store};
  WindowsVersion version{versionSource};
  CopyProcedure procedure{fs, settings, version, '\\'};
};

TEST_F(LocateTest, UnreadableSetupDir) {
  EXPECT_EQ(Run(), kDriveUnknown);
  EXPECT_EQ(versionSource.queryCount, 1);  // detected first, in every run
  EXPECT_TRUE(fs.listedPatterns.empty());
}

TEST_F(LocateTest, FindsTheCdAndFormsBothRoots) {
  Record("SetupDir", "E:\\");
  store.Set("Velmora", "Info", "SystemDir", "C:\\Program Files\\Velmora\\System");
  fs.AddFolder("C:\\Program Files");
  EXPECT_EQ(Run(), "");
  EXPECT_EQ(procedure.SourceRoot, "E:");
  EXPECT_EQ(procedure.InstallRoot, "C:\\Program Files\\Velmora");  // XP: not moved
  EXPECT_EQ(procedure.DestinationDrive, "C:");
  ASSERT_GE(fs.listedPatterns.size(), 2u);
  EXPECT_EQ(fs.listedPatterns[0], "E:\\setup.exe");
  EXPECT_EQ(fs.listedPatterns[1], "E:\\PCMaster");
}

TEST_F(LocateTest, RelocatesOnWindows7) {
  versionSource.reported = testing::kWindows7;
  Record("SetupDir", "E:\\");
  Record("SystemDir", "C:\\Program Files (x86)\\Velmora\\System");
  fs.AddFolder("C:");
  EXPECT_EQ(Run(), "");
  EXPECT_EQ(procedure.InstallRoot, "C:\\Tarnwell\\Velmora");
  EXPECT_EQ(procedure.DestinationDrive, "C:");
}

struct CdRow {
  const char* name;
  const char* setupDir;
  bool hasSetup;
  bool hasMasterData;
  const char* messageStart;  // the full-width letter, or "" for an empty SourceRoot
};

TEST_F(LocateTest, CdCheckFailures) {
  const CdRow rows[] = {
      {"setup.exe missing", "E:\\", false, true, "Ｅ"},
      {"PCMaster missing", "E:\\", true, false, "Ｅ"},
      {"lower-case drive", "e:\\", false, false, "Ｅ"},
      {"empty SetupDir", "", false, false, ""},
  };
  for (const CdRow& row : rows) {
    testing::FakeFileSystem cd('\\');
    if (row.hasSetup) cd.AddFile("E:\\setup.exe");
    if (row.hasMasterData) cd.AddFolder("E:\\PCMaster");
    testing::FakeRegistry reg;
    reg.SetString(kKey, "SetupDir", row.setupDir);
    reg.SetString(kKey, "SystemDir", "C:\\V\\System");
    InstallerSettings lookup(reg, store);
    CopyProcedure run(cd, lookup, version, '\\');
    run.RunCopy();
    EXPECT_EQ(run.ResultMessage, std::string(row.messageStart) + kInsertCd) << row.name;
    EXPECT_EQ(cd.listedPatterns.size(), 2u) << row.name;  // both tests always made
  }
}

TEST_F(LocateTest, EmptySetupDirLooksAtTheRootOfTheCurrentDrive) {
  Record("SetupDir", "");
  Run();
  ASSERT_EQ(fs.listedPatterns.size(), 2u);
  EXPECT_EQ(fs.listedPatterns[0], "\\setup.exe");
  EXPECT_EQ(fs.listedPatterns[1], "\\PCMaster");
}

TEST_F(LocateTest, SetupExeMustBeAPlainFile) {
  testing::FakeFileSystem cd('\\');
  cd.AddFolder("F:\\setup.exe");
  cd.AddFolder("F:\\PCMaster");
  testing::FakeRegistry reg;
  reg.SetString(kKey, "SetupDir", "F:");
  InstallerSettings lookup(reg, store);
  CopyProcedure run(cd, lookup, version, '\\');
  run.RunCopy();
  EXPECT_EQ(run.ResultMessage, std::string("Ｆ") + kInsertCd);

  testing::FakeFileSystem hidden('\\');
  hidden.AddFile("F:\\setup.exe", "x", /*hidden=*/true);
  hidden.AddFolder("F:\\PCMaster");
  CopyProcedure runHidden(hidden, lookup, version, '\\');
  runHidden.RunCopy();
  EXPECT_EQ(runHidden.ResultMessage, std::string("Ｆ") + kInsertCd);
}

TEST_F(LocateTest, AnUnlistableDriveGivesTheDriveMessage) {
  Record("SetupDir", "E:\\");
  Record("SystemDir", "C:\\V\\System");
  fs.FailListing("E:\\setup.exe");
  EXPECT_EQ(Run(), std::string("Ｅ") + kInsertCd);
  EXPECT_EQ(fs.listedPatterns.size(), 2u);
}

TEST_F(LocateTest, DestinationUnknown) {
  Record("SetupDir", "E:\\");
  EXPECT_EQ(Run(), kDestinationUnknown);
  // A SystemDir without any separator would put the destination at the drive root.
  Record("SystemDir", "System");
  EXPECT_EQ(Run(), kDestinationUnknown);
  Record("SystemDir", "");
  EXPECT_EQ(Run(), kDestinationUnknown);
}

TEST_F(LocateTest, TheSameRulesRunWithTheLinuxSeparator) {
  testing::FakeFileSystem cd('/');
  cd.AddFile("/media/cd/setup.exe");
  cd.AddFolder("/media/cd/PCMaster");
  cd.AddFolder("/opt");
  testing::FakeRegistry reg;
  reg.SetString(kKey, "SetupDir", "/media/cd/");
  reg.SetString(kKey, "SystemDir", "/opt/Velmora/System");
  InstallerSettings lookup(reg, store);
  CopyProcedure run(cd, lookup, version, '/');
  run.RunCopy();
  EXPECT_EQ(run.ResultMessage, "");
  EXPECT_EQ(run.SourceRoot, "/media/cd");
  EXPECT_EQ(run.InstallRoot, "/opt/Velmora");
}

}  // namespace
}  // namespace velmora
