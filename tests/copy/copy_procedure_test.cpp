#include "copy/copy_procedure.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "copy/path_rules.h"
#include "tests/fakes/fake_copy_run.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"
#include "tests/fakes/fake_version_source.h"
#include "tests/fakes/recording_progress.h"

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
    procedure.SetProgressDisplay(progress);
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
  // The per-user record the release before kept.
  std::string Record() const { return store.Get("Velmora", "CdCopy", "UnderWay"); }
  // The marker in the destination root: "<missing>", or whether it trusts the stamps.
  std::string Marker(const testing::FakeFileSystem& f) const {
    const std::string path = Dest(".velmora-cdcopy-under-way");
    if (!f.Exists(path)) return "<missing>";
    return CopyMarkerTrustsStamps(f.Content(path)) ? "trusted" : "not trusted";
  }
  std::string Marker() const { return Marker(fs); }
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
  EXPECT_EQ(progress.history, labels);

  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "Null");
  EXPECT_EQ(Marker(), "<missing>");
  EXPECT_EQ(procedure.MakerMark, "M");
  EXPECT_EQ(procedure.Outcome, RunOutcome::kCompleted);
  EXPECT_FALSE(fs.listingOpen());
}

TEST_F(CopyRunTest, ASecondRunIsRefusedAndChangesNothing) {
  ASSERT_EQ(Run(), "");
  const int copies = fs.copyCount;
  progress.history.clear();
  EXPECT_EQ(Run(), kAlreadyCopied);
  EXPECT_EQ(procedure.Outcome, RunOutcome::kAlreadyCopied);
  EXPECT_EQ(fs.copyCount, copies);
  EXPECT_TRUE(progress.history.empty());
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

TEST_F(CopyRunTest, RelocatedDestinationWhoseMakerFolderCannotBeMadeCopiesNothing) {
  registry.SetString(kKey, "SystemDir", "C:\\Program Files\\Velmora\\System");
  versionSource.reported = testing::kWindows7;
  fs.FailCreate("C:\\Tarnwell");
  // The destination root cannot be made, so no record of the copy can be kept in it.
  EXPECT_EQ(Run(),
            "\u3000コピー先のフォルダに書き込めません。（C:\\Tarnwell\\Velmora\u3000reason 3）");
  EXPECT_EQ(procedure.InstallRoot, "C:\\Tarnwell\\Velmora");
  EXPECT_EQ(procedure.Outcome, RunOutcome::kNotLocated);
  EXPECT_EQ(fs.copyCount, 0);
}

TEST_F(CopyRunTest, ADestinationWhereTheRecordCannotBeWrittenCopiesNothing) {
  const std::string marker = std::string(kRoot) + "\\.velmora-cdcopy-under-way";
  struct Row {
    const char* name;
    std::function<void(testing::FakeFileSystem&)> arrange;
    int error;
  };
  const Row rows[] = {
      {"the write refused", [&](auto& f) { f.FailWrite(marker); },
       testing::FakeFileSystem::kErrorAccessDenied},
      {"a folder in the record's place", [&](auto& f) { f.AddFolder(marker); },
       testing::FakeFileSystem::kErrorAccessDenied},
      {"the root cannot be made", [](auto& f) { f.FailCreate(kRoot, 5); },
       testing::FakeFileSystem::kErrorAccessDenied},
  };
  for (const Row& row : rows) {
    testing::FakeFileSystem dest = fs;
    row.arrange(dest);
    CopyProcedure run(dest, settings, version, '\\');
    EXPECT_EQ(RunWith(run), "\u3000コピー先のフォルダに書き込めません。（" + std::string(kRoot) +
                                "\u3000reason " + std::to_string(row.error) + "）")
        << row.name;
    EXPECT_EQ(run.Outcome, RunOutcome::kNotLocated) << row.name;
    EXPECT_EQ(dest.copyCount, 0) << row.name;
    // No System folder: the next run is not taken for a copy made before.
    EXPECT_FALSE(dest.Exists(Dest("System"))) << row.name;
    EXPECT_EQ(store.writeCount, 0) << row.name;
  }
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
  EXPECT_EQ(procedure.Outcome, RunOutcome::kFailed);
  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "O");  // kept for the retry
  // Every copy that stands reached the disk: the next run may trust their stamps.
  EXPECT_EQ(Marker(), "trusted");
  EXPECT_EQ(progress.history[progress.history.size() - 2], "23");  // failures still counted
  const std::vector<messages::FailureNote> notes = {{Dest("System\\sys3.dat"), "reason 5"},
                                                    {Dest("Folder_1\\O-basic.lad"), "reason 5"}};
  EXPECT_EQ(procedure.failures().notes, notes);

  // The next run, by anyone, completes: what arrived whole the first time is not copied again.
  testing::FakeFileSystem again = fs;
  again.ClearFailures();
  again.copyCount = 0;
  testing::FakeSettingsStore otherUser;
  otherUser.Set("Velmora", "Info", "SetupMk", "O");
  InstallerSettings otherSettings(registry, otherUser);
  CopyProcedure retry(again, otherSettings, version, '\\');
  EXPECT_EQ(RunWith(retry), "");
  EXPECT_TRUE(retry.completingEarlierRun());
  EXPECT_EQ(again.copyCount, 2);
  EXPECT_EQ(again.Content(Dest("System\\sys3.dat")), "content of System\\sys3.dat");
  EXPECT_EQ(again.Content(Dest("Folder_1\\O-basic.lad")), "content of O\\基本回路\\O-basic.lad");
  EXPECT_EQ(Marker(again), "<missing>");
}

TEST_F(CopyRunTest, AReadOnlyCopyIsMadeWritableJustBeforeItIsReplacedAndOnlyThen) {
  // The first run's copies arrived read-only from the CD; sys2.dat failed, and its retry finds
  // a stale copy in its place.
  fs.FailCopy("E:\\System\\sys2.dat");
  ASSERT_NE(Run(), "");
  fs.ClearFailures();
  fs.AddFile(Dest("System\\sys2.dat"), "stale");
  fs.SetReadOnly(Dest("System\\sys2.dat"));
  fs.journal.clear();
  EXPECT_EQ(Run(), "");
  EXPECT_EQ(fs.Content(Dest("System\\sys2.dat")), "content of System\\sys2.dat");
  EXPECT_TRUE(fs.IsReadOnly(Dest("System\\sys2.dat")));  // the CD's attribute, carried again
  const std::vector<std::string>& j = fs.journal;
  const auto clear = std::find(j.begin(), j.end(), "clear " + Dest("System\\sys2.dat"));
  ASSERT_NE(clear, j.end());
  EXPECT_EQ(*(clear + 1), "copy " + Dest("System\\sys2.dat"));
  // The copies that were whole are skipped, and keep their attribute.
  EXPECT_EQ(std::count_if(j.begin(), j.end(),
                          [](const std::string& e) { return e.starts_with("clear "); }),
            1);
  EXPECT_TRUE(fs.IsReadOnly(Dest("System\\sys1.dat")));
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

TEST_F(CopyRunTest, AFileACopyFailedOverIsNeverTakenForAWholeCopy) {
  // Left by an earlier run whose flush was never known: the size and time of the CD's file, but
  // not its content. This run cannot replace it (the CD's sector is unreadable).
  store.Set("Velmora", "CdCopy", "UnderWay", kRoot);
  fs.AddFile(Dest("System\\sys3.dat"), std::string(22, '\0'));  // as long as the CD's file
  fs.SetModified(Dest("System\\sys3.dat"), fs.Modified("E:\\System\\sys3.dat"));
  fs.FailCopy("E:\\System\\sys3.dat");
  ASSERT_NE(Run(), "");
  // It is gone, so the next run, trusting the stamps of this run's copies, copies it again.
  EXPECT_FALSE(fs.Exists(Dest("System\\sys3.dat")));
  EXPECT_EQ(Marker(), "trusted");
  fs.ClearFailures();
  EXPECT_EQ(Run(), "");
  EXPECT_EQ(fs.Content(Dest("System\\sys3.dat")), "content of System\\sys3.dat");

  // Where it cannot be removed, no stamp is trusted: the next run copies everything.
  testing::FakeFileSystem stuck = fs;
  stuck.AddFile(Dest("Help\\index.htm"), "stale");
  stuck.AddFile(Dest(".velmora-cdcopy-under-way"), CopyMarkerText(true), /*hidden=*/true);
  stuck.FailCopy("E:\\Help\\index.htm");
  stuck.FailRemove(Dest("Help\\index.htm"));
  CopyProcedure run(stuck, settings, version, '\\');
  ASSERT_NE(RunWith(run), "");
  EXPECT_EQ(Marker(stuck), "not trusted");
}

TEST_F(CopyRunTest, ANameTwoCdFoldersShareIsCopiedEachTimeTheLaterOverTheEarlier) {
  // PCMaster and the maker's basic circuits both go to Folder_1; a retry that trusts stamps still
  // copies both, so the later one stands, whatever the copy it replaces looked like.
  fs.AddFile("E:\\PCMaster\\shared.lad", "from PCMaster");
  fs.AddFile("E:\\M\\基本回路\\shared.lad", "from the basic circuits");
  fs.FailCopy("E:\\System\\sys1.dat");
  ASSERT_NE(Run(), "");
  ASSERT_EQ(Marker(), "trusted");
  fs.ClearFailures();
  fs.journal.clear();
  fs.namesWaitForTheFlush = true;
  EXPECT_EQ(Run(), "");
  EXPECT_EQ(
      std::count(fs.journal.begin(), fs.journal.end(), "copy " + Dest("Folder_1\\shared.lad")), 2);
  EXPECT_EQ(fs.Content(Dest("Folder_1\\shared.lad")), "from the basic circuits");
}

TEST_F(CopyRunTest, CopiesLostBeforeTheyWereNamedAreFailuresWithTheirReason) {
  fs.beforeFlush = [this](const std::string&) {
    fs.lostCopies = {{Dest("Help\\video\\clip1.avi"), testing::FakeFileSystem::kErrorNotReady},
                     {Dest("Help\\video\\clip2.avi"), testing::FakeFileSystem::kErrorNotReady}};
  };
  EXPECT_EQ(Run(), Failure("ファイル２個をコピーできませんでした。", Dest("Help\\video\\clip1.avi"),
                           testing::FakeFileSystem::kErrorNotReady));
  EXPECT_EQ(procedure.failures().notes.size(), 2u);
  EXPECT_FALSE(fs.Exists(Dest("Help\\video\\clip2.avi")));
}

TEST_F(CopyRunTest, ARunKilledAfterItsThirdFileIsCompletedByTheNextWhoeverRunsIt) {
  fs.beforeCopy = [](int number) {
    if (number == 4) throw ProcessKilled();
  };
  EXPECT_THROW(procedure.RunCopy(), ProcessKilled);
  fs.beforeCopy = nullptr;
  EXPECT_EQ(fs.FilesBelow(kRoot).size(), 3u);
  EXPECT_EQ(Marker(), "not trusted");

  // Another user starts the program: the record lies beside the copies, not in any user's
  // settings. How far the killed run's copies got to the disk is not known, so none is trusted.
  testing::FakeSettingsStore otherUser;
  InstallerSettings otherSettings(registry, otherUser);
  CopyProcedure restarted(fs, otherSettings, version, '\\');
  const int copiesBefore = fs.copyCount;
  EXPECT_EQ(RunWith(restarted), "");
  EXPECT_TRUE(restarted.completingEarlierRun());
  EXPECT_EQ(fs.copyCount - copiesBefore, 23);
  EXPECT_EQ(fs.FilesBelow(kRoot).size(), 23u);
  EXPECT_EQ(Marker(), "<missing>");
  // Finished now: never touched again.
  CopyProcedure third(fs, settings, version, '\\');
  EXPECT_EQ(RunWith(third), kAlreadyCopied);
}

TEST_F(CopyRunTest, TheRecordOfTheReleaseBeforeStillCountsAsUnderWay) {
  // Cut off under the release before: a System folder, one copy, the per-user record.
  fs.AddFile(Dest("System\\sys1.dat"), "content of System\\sys1.dat");
  store.Set("Velmora", "CdCopy", "UnderWay", kRoot);
  EXPECT_EQ(Run(), "");
  EXPECT_TRUE(procedure.completingEarlierRun());
  EXPECT_EQ(fs.copyCount, 23);  // its flushes are not known: nothing is skipped
  EXPECT_EQ(Record(), "");      // cleared along with the marker
  EXPECT_EQ(Marker(), "<missing>");
  EXPECT_EQ(Run(), kAlreadyCopied);
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
  ASSERT_GE(progress.history.size(), 14u);
  EXPECT_EQ(progress.history[12], "13");  // "trw", shown before its copy was tried
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
  progress.history.clear();
  EXPECT_EQ(Run(), "");
  EXPECT_TRUE(procedure.completingEarlierRun());
  EXPECT_EQ(procedure.CopiedFileCount, 23u);
  EXPECT_TRUE(procedure.failures().notes.empty());
  ASSERT_EQ(progress.history.size(), 24u);
  EXPECT_EQ(progress.history.front(), "1");
  EXPECT_EQ(progress.history[22], "23");
  EXPECT_EQ(fs.Content(Dest("Help\\index.htm")), "content of Help\\index.htm");
  EXPECT_EQ(Marker(), "<missing>");
}

TEST_F(CopyRunTest, TheRecordGoesOnTheDiskBeforeTheFirstCopyAndOffItAfterTheLastFlush) {
  store.Set("Velmora", "Info", "SetupMk", "M");
  std::string setupMkAtFlush;
  fs.beforeFlush = [&](const std::string&) {
    setupMkAtFlush = store.Get("Velmora", "Info", "SetupMk");
  };
  ASSERT_EQ(Run(), "");
  const std::vector<std::string>& j = fs.journal;
  const std::string marker = "write " + Dest(".velmora-cdcopy-under-way");
  const auto firstOf = [&j](const std::string& prefix) {
    return std::find_if(j.begin(), j.end(),
                        [&](const std::string& e) { return e.starts_with(prefix); });
  };
  const auto lastCopy = std::find_if(j.rbegin(), j.rend(), [](const std::string& e) {
                          return e.starts_with("copy ");
                        }).base();
  ASSERT_NE(firstOf(marker), j.end());
  EXPECT_LT(firstOf(marker), firstOf("copy "));
  EXPECT_LT(firstOf(marker), firstOf("clean "));
  EXPECT_GE(firstOf("flush "), lastCopy);
  EXPECT_EQ(j.back(), "remove " + Dest(".velmora-cdcopy-under-way"));
  EXPECT_EQ(fs.flushedFolders, (std::vector<std::string>{kRoot}));
  EXPECT_EQ(setupMkAtFlush, "M");
  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "Null");
}

TEST_F(CopyRunTest, AfterAFlushThatFailedTheNextRunTrustsNoStamp) {
  // The copies stand under their names, with the sizes and times of their sources, but the
  // disk never said that it had them: the next run copies every one again.
  fs.FailFlush();
  store.Set("Velmora", "Info", "SetupMk", "M");
  EXPECT_EQ(Run(), Failure("コピーしたファイルをディスクに書き込めませんでした。", kRoot,
                           testing::FakeFileSystem::kErrorNotReady));
  EXPECT_EQ(Marker(), "not trusted");
  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "M");

  fs.ClearFailures();
  const int copiesBefore = fs.copyCount;
  EXPECT_EQ(Run(), "");
  EXPECT_EQ(fs.copyCount - copiesBefore, 23);
  EXPECT_EQ(Marker(), "<missing>");
  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "Null");
}

TEST_F(CopyRunTest, LeftoversOfCopiesCutOffGoBeforeTheFirstCopy) {
  // A run cut off: its record, and copies left under their temporary names.
  fs.AddFolder(kRoot);
  ASSERT_TRUE(
      fs.WriteHiddenFileDurably(Dest(".velmora-cdcopy-under-way"), CopyMarkerText(false)).ok());
  fs.AddFile(Dest("System\\sys1.dat.velmora-partial"), "half", /*hidden=*/true);
  fs.AddFile(Dest("Help\\video\\clip1.avi.velmora-partial"), "half", /*hidden=*/true);
  fs.AddFile(Dest("Help\\notes.velmora-partial.txt"), "the user's own");
  // And what a run cut off while writing its record left of that.
  fs.AddFile(Dest(".velmora-cdcopy-under-way.velmora-partial"), "half", /*hidden=*/true);
  ASSERT_EQ(Run(), "");
  EXPECT_FALSE(fs.Exists(Dest(".velmora-cdcopy-under-way.velmora-partial")));
  EXPECT_FALSE(fs.Exists(Dest("System\\sys1.dat.velmora-partial")));
  EXPECT_FALSE(fs.Exists(Dest("Help\\video\\clip1.avi.velmora-partial")));
  EXPECT_TRUE(fs.Exists(Dest("Help\\notes.velmora-partial.txt")));
  const std::vector<std::string> cleaned = {
      kRoot,        Dest("System"),      Dest("System\\trw"), Dest("Folder_1"), Dest("Folder_2"),
      Dest("Help"), Dest("Help\\image"), Dest("Help\\video")};
  EXPECT_EQ(fs.cleanedFolders, cleaned);
}

TEST_F(CopyRunTest, AStopBetweenChunksEndsTheRunAndTheNextCompletesIt) {
  const std::string clip = "E:\\Help\\video\\clip1.avi";
  fs.CopyInChunks(clip, 10);
  int chunks = 0;
  fs.duringChunk = [&](const std::string& source) {
    if (source == clip && ++chunks == 3) procedure.RequestStop();
  };
  EXPECT_EQ(Run(), "\u3000コピーを中断しました。");
  EXPECT_EQ(procedure.Outcome, RunOutcome::kStopped);
  EXPECT_EQ(chunks, 3);
  EXPECT_EQ(fs.copyCount, 22);  // clip2 never started
  EXPECT_FALSE(fs.Exists(Dest("Help\\video\\clip1.avi")));
  EXPECT_TRUE(procedure.failures().notes.empty());  // a stop is no failure
  EXPECT_TRUE(fs.flushedFolders.empty());
  EXPECT_EQ(Marker(), "not trusted");
  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "<missing>");
  EXPECT_FALSE(fs.listingOpen());

  // A stop holds for the rest of the program's life; the next program completes the copy.
  EXPECT_EQ(Run(), "\u3000コピーを中断しました。");
  fs.duringChunk = nullptr;
  CopyProcedure next(fs, settings, version, '\\');
  EXPECT_EQ(RunWith(next), "");
  EXPECT_EQ(fs.FilesBelow(kRoot).size(), 23u);
}

TEST_F(CopyRunTest, NoListingIsLeftOpenHoweverTheRunEnds) {
  struct Row {
    const char* name;
    std::function<void(testing::FakeCopyRun&)> arrange;
  };
  const Row rows[] = {
      {"completed", [](auto&) {}},
      {"no SystemDir", [](auto& r) { r.registry.Delete(kKey, "SystemDir"); }},
      {"already copied", [](auto& r) { r.fs.AddFolder(std::string(kRoot) + "\\System"); }},
      {"no CD", [](auto& r) { r.registry.SetString(kKey, "SetupDir", "F:\\"); }},
      {"copies failed", [](auto& r) { r.fs.FailCopy("E:\\System\\sys1.dat"); }},
      {"a listing broke off", [](auto& r) { r.fs.FailNextAfter("E:\\System\\", "sys1.dat"); }},
  };
  for (const Row& row : rows) {
    testing::FakeCopyRun run;
    run.registry = registry;
    run.fs = fs;
    row.arrange(run);
    run.procedure.RunCopy();
    EXPECT_FALSE(run.fs.listingOpen()) << row.name;
  }
}

TEST(FileStampTest, TimesMatchWithinTwoSeconds) {
  constexpr int64_t kSecond = FileStamp::kTicksPerSecond;
  struct Row {
    const char* name;
    FileStamp copy;
    bool matches;
  };
  const FileStamp source{100, 1'000 * kSecond};
  const Row rows[] = {
      {"the same", {100, 1'000 * kSecond}, true},
      {"a second later, as FAT rounds up", {100, 1'001 * kSecond}, true},
      {"two seconds earlier", {100, 998 * kSecond}, true},
      {"a little over two seconds", {100, 1'002 * kSecond + 1}, false},
      {"another size", {101, 1'000 * kSecond}, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(source.Matches(row.copy), row.matches) << row.name;
    EXPECT_EQ(row.copy.Matches(source), row.matches) << row.name;
  }
}

TEST_F(CopyRunTest, TheCountGoesOnPast32767) {
  for (int i = 0; i < 32770; ++i) fs.AddFile("E:\\Help\\video\\v" + std::to_string(i));
  ASSERT_EQ(Run(), "");
  ASSERT_GE(progress.history.size(), 2u);
  EXPECT_EQ(progress.history[progress.history.size() - 2], std::to_string(23 + 32770));
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
