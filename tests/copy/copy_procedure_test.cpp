#include "copy/copy_procedure.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "copy/path_rules.h"
#include "tests/fakes/fake_copy_run.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"
#include "tests/fakes/fake_version_source.h"
#include "tests/fakes/recording_view.h"

namespace velmora {
namespace {

constexpr const char* kKey = "Software\\Velmora\\Info";
constexpr const char* kRoot = "C:\\Apps\\Velmora";
constexpr const char* kAlreadyCopied = "\u3000既にインストールＣＤからコピー済みです。";

// A failure report: what failed, counted, then the first failure and the system's reason for it
// (the fake file system gives "reason <error>").
std::string Failure(const std::string& counts, const std::string& first, int error) {
  return "\u3000" + counts + "（最初：" + first + "\u3000reason " + std::to_string(error) +
         "）もう一度「実 行」を押して下さい。";
}

// Thrown by the file system to end a run where the process would have been killed.
struct ProcessKilled : std::runtime_error {
  ProcessKilled() : std::runtime_error("killed") {}
};

class CopyRunTest : public ::testing::Test, protected testing::FakeCopyRun {
 protected:
  void SetUp() override {
    registry.SetString(kKey, "SetupDir", "E:\\");
    registry.SetString(kKey, "SystemDir", std::string(kRoot) + "\\System");
    fs.AddFolder("C:\\Apps");
    AddCd();
    procedure.SetProgressDisplay(view);
  }

  void AddCdFile(const std::string& path, bool hidden = false, bool system = false) {
    fs.AddFile("E:\\" + path, "content of " + path, hidden, system);
    fs.SetReadOnly("E:\\" + path);  // CD media
  }
  void AddCd() {
    AddCdFile("setup.exe");
    for (int i = 1; i <= 12; ++i) AddCdFile("System\\sys" + std::to_string(i) + ".dat");
    for (int i = 1; i <= 3; ++i) AddCdFile("System\\trw\\trw" + std::to_string(i));
    AddCdFile("PCMaster\\master.pcm");
    AddCdFile("PCMaster\\hidden.pcm", /*hidden=*/true);
    AddCdFile("PCMaster\\system.pcm", false, /*system=*/true);
    fs.AddFolder("E:\\PCMaster\\Sub");
    AddCdFile("PCMaster\\Sub\\nested.pcm");
    for (const char* maker : {"M", "O", "Null"}) {
      const std::string m = maker;
      AddCdFile(m + "\\解説回路\\" + m + "-explain.lad");
      AddCdFile(m + "\\基本回路\\" + m + "-basic.lad");
      AddCdFile(m + "\\組込回路\\" + m + "-builtin.lad");
      AddCdFile(m + "\\基本回路\\deeper\\" + m + "-deeper.lad");
    }
    AddCdFile("Help\\index.htm");
    AddCdFile("Help\\image\\fig1.png");
    AddCdFile("Help\\video\\clip1.avi");
    AddCdFile("Help\\video\\clip2.avi");
    AddCdFile("Help\\other\\extra.txt");
    AddCdFile("Help\\video\\clips\\inner.avi");
  }

  std::string Run() { return RunWith(procedure); }
  std::string RunWith(CopyProcedure& run) {
    run.ResultMessage.clear();
    run.RunCopy();
    return run.ResultMessage;
  }
  std::string Record() const { return store.Get("Velmora", "CdCopy", "UnderWay"); }
  std::string Dest(const std::string& relative) const {
    return std::string(kRoot) + "\\" + relative;
  }
};

TEST_F(CopyRunTest, ACompleteRunBuildsTheTreeAndCopiesEveryGroup) {
  ASSERT_EQ(Run(), "");

  const std::vector<std::string> created = {kRoot,
                                            Dest("System"),
                                            Dest("System\\trw"),
                                            Dest("Help"),
                                            Dest("Help\\image"),
                                            Dest("Help\\video"),
                                            Dest("Folder_1"),
                                            Dest("Folder_2"),
                                            Dest("BackUp")};
  EXPECT_EQ(fs.createdFolders, created);

  std::map<std::string, std::string> expected;
  for (int i = 1; i <= 12; ++i) {
    const std::string name = "sys" + std::to_string(i) + ".dat";
    expected["System\\" + name] = "content of System\\" + name;
  }
  for (int i = 1; i <= 3; ++i) {
    const std::string name = "trw" + std::to_string(i);
    expected["System\\trw\\" + name] = "content of System\\trw\\" + name;
  }
  expected["Folder_1\\master.pcm"] = "content of PCMaster\\master.pcm";
  expected["Folder_2\\M-explain.lad"] = "content of M\\解説回路\\M-explain.lad";
  expected["Folder_1\\M-basic.lad"] = "content of M\\基本回路\\M-basic.lad";
  expected["Folder_1\\M-builtin.lad"] = "content of M\\組込回路\\M-builtin.lad";
  expected["Help\\index.htm"] = "content of Help\\index.htm";
  expected["Help\\image\\fig1.png"] = "content of Help\\image\\fig1.png";
  expected["Help\\video\\clip1.avi"] = "content of Help\\video\\clip1.avi";
  expected["Help\\video\\clip2.avi"] = "content of Help\\video\\clip2.avi";
  EXPECT_EQ(fs.FilesBelow(kRoot), expected);
  EXPECT_TRUE(fs.IsReadOnly(Dest("System\\sys1.dat")));  // carried, as the platform copy does

  // The label counted every file before it was copied, then was cleared.
  std::vector<std::string> labels;
  for (int i = 1; i <= 23; ++i) labels.push_back(std::to_string(i));
  labels.push_back("");
  EXPECT_EQ(view.progressHistory, labels);
  EXPECT_EQ(view.pumpCount, 24);

  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "Null");
  EXPECT_EQ(Record(), "");
  EXPECT_EQ(procedure.MakerMark, "M");
}

TEST_F(CopyRunTest, ASecondRunIsRefusedAndChangesNothing) {
  ASSERT_EQ(Run(), "");
  const int copies = fs.copyCount;
  view.progressHistory.clear();
  EXPECT_EQ(Run(), kAlreadyCopied);
  EXPECT_EQ(fs.copyCount, copies);
  EXPECT_TRUE(view.progressHistory.empty());
}

TEST_F(CopyRunTest, EarlierPopulation) {
  struct Row {
    const char* name;
    std::function<void(testing::FakeFileSystem&)> arrange;
    const char* message;
  };
  const Row rows[] = {
      {"System folder alone", [](auto& f) { f.AddFolder(std::string(kRoot) + "\\System"); },
       kAlreadyCopied},
      {"a plain file named System", [](auto& f) { f.AddFile(std::string(kRoot) + "\\System"); },
       kAlreadyCopied},
      {"a destination that cannot be listed",
       [](auto& f) { f.FailListing(std::string(kRoot) + "\\System", 5); },
       "\u3000コピー先のフォルダにアクセスできません。"},
  };
  for (const Row& row : rows) {
    testing::FakeFileSystem dest('\\');
    dest.AddFile("E:\\setup.exe");
    dest.AddFolder("E:\\PCMaster");
    row.arrange(dest);
    CopyProcedure run(dest, settings, version, '\\');
    EXPECT_EQ(RunWith(run), row.message) << row.name;
    EXPECT_TRUE(dest.createdFolders.empty()) << row.name;
    EXPECT_EQ(dest.copyCount, 0) << row.name;
    EXPECT_EQ(store.writeCount, 0) << row.name;
  }
}

TEST_F(CopyRunTest, MakerFolderAtTheDriveRootOnVistaAndLater) {
  registry.SetString(kKey, "SystemDir", "D:\\Apps\\Velmora\\System");
  fs.AddFolder("D:\\Apps");
  versionSource.reported = testing::kWindowsVista;
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(fs.createdFolders.front(), "D:\\Tarnwell");
  EXPECT_EQ(procedure.InstallRoot, "D:\\Apps\\Velmora");
}

TEST_F(CopyRunTest, NoMakerFolderBeforeVista) {
  ASSERT_EQ(Run(), "");
  EXPECT_FALSE(fs.Exists("C:\\Tarnwell"));
}

TEST_F(CopyRunTest, RelocatedDestinationWhoseMakerFolderCannotBeMadeFails) {
  registry.SetString(kKey, "SystemDir", "C:\\Program Files\\Velmora\\System");
  versionSource.reported = testing::kWindows7;
  fs.FailCreate("C:\\Tarnwell");
  const std::string message = Run();
  EXPECT_EQ(message,
            Failure("ファイル２３個をコピーできませんでした。フォルダ９個を作成できませんでした。",
                    "C:\\Tarnwell\\Velmora", 3));
  EXPECT_EQ(procedure.InstallRoot, "C:\\Tarnwell\\Velmora");
}

TEST_F(CopyRunTest, MakerMarkChoosesTheSampleFolders) {
  struct Row {
    const char* name;
    const char* registryMark;  // nullptr: none
    const char* userMark;      // nullptr: none
    const char* mark;
    const char* explainedListing;
  };
  const Row rows[] = {
      {"nowhere", nullptr, nullptr, "M", "E:\\M\\解説回路\\"},
      {"registry O, per-user ignored", "O", "M", "O", "E:\\O\\解説回路\\"},
      {"per-user Null as a finished run leaves it", nullptr, "Null", "Null",
       "E:\\Null\\解説回路\\"},
      {"empty registry value", "", "O", "", "E:\\\\解説回路\\"},
  };
  for (const Row& row : rows) {
    testing::FakeRegistry reg;
    reg.SetString(kKey, "SetupDir", "E:\\");
    reg.SetString(kKey, "SystemDir", std::string(kRoot) + "\\System");
    if (row.registryMark != nullptr) reg.SetString(kKey, "SetupMk", row.registryMark);
    testing::FakeSettingsStore user;
    if (row.userMark != nullptr) user.Set("Velmora", "Info", "SetupMk", row.userMark);
    testing::FakeFileSystem cd = fs;
    cd.listedPatterns.clear();
    InstallerSettings lookup(reg, user);
    CopyProcedure run(cd, lookup, version, '\\');
    RunWith(run);
    EXPECT_EQ(run.MakerMark, row.mark) << row.name;
    const auto& listed = cd.listedPatterns;
    EXPECT_NE(std::find(listed.begin(), listed.end(), row.explainedListing), listed.end())
        << row.name;
  }
}

TEST_F(CopyRunTest, ExistingFilesAreReplacedAndExistingFoldersKeepTheirContent) {
  fs.AddFile(Dest("Help\\own-notes.txt"), "the user's own");
  fs.AddFile(Dest("Help\\index.htm"), "old manual");
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(fs.Content(Dest("Help\\own-notes.txt")), "the user's own");
  EXPECT_EQ(fs.Content(Dest("Help\\index.htm")), "content of Help\\index.htm");
  EXPECT_EQ(std::count(fs.createdFolders.begin(), fs.createdFolders.end(), Dest("Help")), 0);
}

TEST_F(CopyRunTest, FailedCopiesAreReportedAndTheNextRunCompletesTheCopy) {
  fs.FailCopy("E:\\System\\sys3.dat");
  fs.FailCopy(Dest("Folder_1\\O-basic.lad"));
  store.Set("Velmora", "Info", "SetupMk", "O");
  // The first failure is named, with the system's reason.
  EXPECT_EQ(Run(), Failure("ファイル２個をコピーできませんでした。", Dest("System\\sys3.dat"), 5));
  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "O");  // kept for the retry
  EXPECT_EQ(Record(), kRoot);
  EXPECT_EQ(view.progressHistory[view.progressHistory.size() - 2], "23");  // failures still counted

  // The next run completes: what arrived read-only the first time is not copied again.
  testing::FakeFileSystem again = fs;
  again.ClearFailures();
  again.copyCount = 0;
  CopyProcedure retry(again, settings, version, '\\');
  EXPECT_EQ(RunWith(retry), "");
  EXPECT_TRUE(retry.completingEarlierRun());
  EXPECT_EQ(again.copyCount, 2);
  EXPECT_EQ(again.Content(Dest("System\\sys3.dat")), "content of System\\sys3.dat");
  EXPECT_EQ(again.Content(Dest("Folder_1\\O-basic.lad")), "content of O\\基本回路\\O-basic.lad");
  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "Null");
  EXPECT_EQ(Record(), "");
}

TEST_F(CopyRunTest, AFolderThatCannotBeMadeIsReported) {
  fs.FailCreate(Dest("Folder_2"));
  EXPECT_EQ(Run(),
            Failure("ファイル１個をコピーできませんでした。フォルダ１個を作成できませんでした。",
                    Dest("Folder_2"), 5));
  fs.FailCreate(Dest("BackUp"));  // holds no file of the CD, and is still reported
  testing::FakeFileSystem onlyBackUp('\\');
  onlyBackUp.AddFile("E:\\setup.exe");
  onlyBackUp.AddFolder("E:\\PCMaster");
  onlyBackUp.AddFolder("C:\\Apps");
  onlyBackUp.FailCreate(Dest("BackUp"));
  CopyProcedure run(onlyBackUp, settings, version, '\\');
  EXPECT_EQ(RunWith(run), Failure("フォルダ１個を作成できませんでした。", Dest("BackUp"), 5));
}

TEST_F(CopyRunTest, ADiskThatFillsDuringTheVideos) {
  // The two videos are the run's files 22 and 23.
  fs.beforeCopy = [this](int number) {
    if (number == 22) fs.SetFreeSpace(0);
  };
  EXPECT_EQ(Run(), Failure("ファイル２個をコピーできませんでした。", Dest("Help\\video\\clip1.avi"),
                           testing::FakeFileSystem::kErrorDiskFull));
  EXPECT_EQ(fs.Content(Dest("Help\\index.htm")), "content of Help\\index.htm");
  EXPECT_FALSE(fs.Exists(Dest("Help\\video\\clip1.avi")));
}

TEST_F(CopyRunTest, ARunKilledAfterItsThirdFileIsCompletedByTheNext) {
  fs.beforeCopy = [](int number) {
    if (number == 4) throw ProcessKilled();
  };
  EXPECT_THROW(procedure.RunCopy(), ProcessKilled);
  fs.beforeCopy = nullptr;
  EXPECT_EQ(fs.FilesBelow(kRoot).size(), 3u);
  EXPECT_EQ(Record(), kRoot);

  // The program starts again.
  CopyProcedure restarted(fs, settings, version, '\\');
  const int copiesBefore = fs.copyCount;
  EXPECT_EQ(RunWith(restarted), "");
  EXPECT_EQ(fs.copyCount - copiesBefore, 20);  // the three whole copies stand
  EXPECT_EQ(fs.FilesBelow(kRoot).size(), 23u);
  EXPECT_EQ(Record(), "");
  // Finished now: never touched again.
  CopyProcedure third(fs, settings, version, '\\');
  EXPECT_EQ(RunWith(third), kAlreadyCopied);
}

TEST_F(CopyRunTest, ARecordForAnotherDestinationDoesNotReopenThisOne) {
  fs.AddFolder(Dest("System"));
  store.Set("Velmora", "CdCopy", "UnderWay", "D:\\Elsewhere");
  EXPECT_EQ(Run(), kAlreadyCopied);
}

TEST_F(CopyRunTest, UnreadableListingsAndAttributes) {
  // An entry whose attributes cannot be read is taken for a file: the folder "trw", listed
  // after the twelve files of System, is counted as the 13th file and its copy fails.
  fs.FailAttributes("E:\\System\\trw");
  // A listing that breaks off ends and is reported; the entry before the break was copied.
  fs.FailNextAfter("E:\\System\\trw\\", "trw2");
  EXPECT_EQ(
      Run(),
      Failure("ファイル１個をコピーできませんでした。ＣＤのフォルダ１個を読み取れませんでした。",
              Dest("System\\trw"), 2));
  ASSERT_GE(view.progressHistory.size(), 14u);
  EXPECT_EQ(view.progressHistory[12], "13");  // "trw", shown before its copy was tried
  EXPECT_EQ(fs.copyCount, 23);
  EXPECT_EQ(fs.Content(Dest("System\\trw\\trw2")), "content of System\\trw\\trw2");
  EXPECT_FALSE(fs.Exists(Dest("System\\trw\\trw3")));
}

TEST_F(CopyRunTest, EachRunNamesItsOwnFirstFailure) {
  fs.FailCopy("E:\\System\\sys3.dat");
  EXPECT_EQ(Run(), Failure("ファイル１個をコピーできませんでした。", Dest("System\\sys3.dat"), 5));
  // The next run, completing this one, copies only that file, and it fails for another reason.
  fs.ClearFailures();
  fs.FailCopy("E:\\System\\sys3.dat", testing::FakeFileSystem::kErrorDiskFull);
  EXPECT_EQ(Run(), Failure("ファイル１個をコピーできませんでした。", Dest("System\\sys3.dat"),
                           testing::FakeFileSystem::kErrorDiskFull));
}

TEST_F(CopyRunTest, FoldersOfTheTreeThatAreThereButHiddenCountAsPresent) {
  // No listing shows them, so each presence test misses them; their creation then finds them
  // there, which is no failure: the copy goes into them.
  for (const bool system : {false, true}) {
    testing::FakeFileSystem dest = fs;
    dest.AddHiddenFolder(kRoot, system);
    dest.AddHiddenFolder(Dest("Help"), system);
    CopyProcedure run(dest, settings, version, '\\');
    EXPECT_EQ(RunWith(run), "") << (system ? "system" : "hidden");
    EXPECT_EQ(dest.FilesBelow(kRoot).size(), 23u);
    EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "Null");
    store.values.clear();
  }
  // A file in the way of a folder is still a folder that could not be made.
  testing::FakeFileSystem blocked = fs;
  blocked.AddFile(Dest("BackUp"), "a file", /*hidden=*/true);
  CopyProcedure run(blocked, settings, version, '\\');
  EXPECT_EQ(RunWith(run), Failure("フォルダ１個を作成できませんでした。", Dest("BackUp"),
                                  testing::FakeFileSystem::kErrorAlreadyExists));
}

TEST_F(CopyRunTest, OneProcedureRunsTwiceAndTheSecondStartsAfresh) {
  fs.FailCopy("E:\\System\\sys3.dat");
  fs.FailCopy("E:\\Help\\index.htm");
  ASSERT_EQ(Run(), Failure("ファイル２個をコピーできませんでした。", Dest("System\\sys3.dat"), 5));
  EXPECT_EQ(procedure.CopiedFileCount, 23u);

  // The program still runs; the user presses Execute again. The count starts at 1 once more,
  // and the failures of the first run are not reported again.
  fs.ClearFailures();
  view.progressHistory.clear();
  EXPECT_EQ(Run(), "");
  EXPECT_TRUE(procedure.completingEarlierRun());
  EXPECT_EQ(procedure.CopiedFileCount, 23u);
  ASSERT_EQ(view.progressHistory.size(), 24u);
  EXPECT_EQ(view.progressHistory.front(), "1");
  EXPECT_EQ(view.progressHistory[22], "23");
  EXPECT_EQ(fs.Content(Dest("Help\\index.htm")), "content of Help\\index.htm");
  EXPECT_EQ(Record(), "");
}

TEST_F(CopyRunTest, TheCopiesAreOnTheDiskBeforeTheRunSaysSo) {
  // The flush comes after the last copy, while the record and the maker mark still stand.
  store.Set("Velmora", "Info", "SetupMk", "M");
  std::vector<std::string> atFlush;
  fs.beforeFlush = [&](const std::string&) {
    atFlush = {std::to_string(fs.copyCount), Record(), store.Get("Velmora", "Info", "SetupMk")};
  };
  ASSERT_EQ(Run(), "");
  EXPECT_EQ(fs.flushedFolders, (std::vector<std::string>{kRoot}));
  EXPECT_EQ(atFlush, (std::vector<std::string>{"23", kRoot, "M"}));
  EXPECT_EQ(Record(), "");
  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "Null");

  // A flush that fails fails the run: the record and the maker mark stay for the next run.
  testing::FakeFileSystem failing = fs;
  failing.FailFlush();
  failing.flushedFolders.clear();
  store.Set("Velmora", "Info", "SetupMk", "M");
  store.Set("Velmora", "CdCopy", "UnderWay", kRoot);
  CopyProcedure run(failing, settings, version, '\\');
  EXPECT_EQ(RunWith(run), Failure("コピーしたファイルをディスクに書き込めませんでした。", kRoot,
                                  testing::FakeFileSystem::kErrorNotReady));
  EXPECT_EQ(failing.flushedFolders, (std::vector<std::string>{kRoot}));
  EXPECT_EQ(Record(), kRoot);
  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "M");
}

TEST_F(CopyRunTest, ALongCopyLetsTheWindowRepaintBetweenItsChunks) {
  const std::string clip = "E:\\Help\\video\\clip1.avi";
  fs.CopyInChunks(clip, 50);
  std::vector<int> pumpsAtChunk;
  fs.duringChunk = [&](const std::string& source) {
    if (source == clip) pumpsAtChunk.push_back(view.pumpCount);
  };
  ASSERT_EQ(Run(), "");
  ASSERT_EQ(pumpsAtChunk.size(), 50u);
  for (size_t i = 1; i < pumpsAtChunk.size(); ++i) {
    EXPECT_EQ(pumpsAtChunk[i], pumpsAtChunk[i - 1] + 1) << "chunk " << i;
  }
  // One call per file, one at the end, and one between each two of the clip's chunks.
  EXPECT_EQ(view.pumpCount, 24 + 49);
}

TEST_F(CopyRunTest, TheCountGoesOnPast32767) {
  for (int i = 0; i < 32770; ++i) fs.AddFile("E:\\Help\\video\\v" + std::to_string(i));
  ASSERT_EQ(Run(), "");
  ASSERT_GE(view.progressHistory.size(), 2u);
  EXPECT_EQ(view.progressHistory[view.progressHistory.size() - 2], std::to_string(23 + 32770));
  EXPECT_EQ(procedure.CopiedFileCount, 23u + 32770u);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST(WrongInstallerValuesTest, EndInTheirMessageAndCreateNothing) {
  constexpr const char* kInsertCd = " ドライブにインストールＣＤをセットして下さい。";
  constexpr const char* kDestinationUnknown = "\u3000コピー先のパスが不明です。";
  struct Row {
    const char* name;
    uint32_t setupType;
    std::string setupBytes;
    std::string systemDir;
    std::string message;
  };
  const std::string goodSetup = std::string("E:\\") + '\0';
  const std::string goodSystem = "C:\\Apps\\Velmora\\System";
  const Row rows[] = {
      {"DWORD SetupDir", kRegDword, std::string("\x2C\x01\0\0", 4), goodSystem,
       std::string("０") + kInsertCd},
      {"binary SetupDir", kRegBinary, "\x45\x3A", goodSystem, std::string("４") + kInsertCd},
      {"SetupDir with a wildcard", kRegSz, std::string("E:\\cd*\\") + '\0', goodSystem,
       std::string("Ｅ") + kInsertCd},
      {"SystemDir of 300 characters", kRegSz, goodSetup,
       "C:\\" + std::string(290, 'x') + "\\System", kDestinationUnknown},
      {"SystemDir with a bar", kRegSz, goodSetup, "C:\\Bad|Name\\System", kDestinationUnknown},
      {"SystemDir with a second colon", kRegSz, goodSetup, "C:\\a:b\\System", kDestinationUnknown},
      {"SystemDir with a NUL", kRegSz, goodSetup, std::string("C:\\a\0b\\System", 13),
       kDestinationUnknown},
      {"SystemDir with a control character", kRegSz, goodSetup, "C:\\a\tb\\System",
       kDestinationUnknown},
  };
  for (const Row& row : rows) {
    testing::FakeRegistry registry;
    registry.SetValue("Software\\Velmora\\Info", "SetupDir", row.setupType, row.setupBytes);
    registry.SetString("Software\\Velmora\\Info", "SystemDir", row.systemDir);
    testing::FakeSettingsStore store;
    testing::FakeVersionSource versionSource;
    testing::FakeFileSystem fs('\\');
    fs.AddFile("E:\\setup.exe");
    fs.AddFolder("E:\\PCMaster");
    fs.AddFolder("C:\\Apps");
    InstallerSettings settings(registry, store);
    WindowsVersion version(versionSource);
    CopyProcedure run(fs, settings, version, '\\');
    run.RunCopy();
    EXPECT_EQ(run.ResultMessage, row.message) << row.name;
    EXPECT_TRUE(fs.createdFolders.empty()) << row.name;
    EXPECT_EQ(fs.copyCount, 0) << row.name;
    EXPECT_EQ(store.writeCount, 0) << row.name;
  }
}

}  // namespace
}  // namespace velmora
