#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/platform_services.h"
#include "tests/support/sandbox.h"

// The file-system back-end of the platform under test, on real folders. The same cases run
// against both back-ends, so they cannot drift apart.
namespace velmora {
namespace {

// Counts the calls a copy makes between its chunks.
class CountingProgress final : public CopyProgress {
 public:
  bool ChunkCopied() override { return ++calls != stopAt; }
  int calls = 0;
  int stopAt = -1;  // the call that answers "stop"
};

class RealFileSystemTest : public ::testing::Test {
 protected:
  FsStatus Copy(const std::string& source, const std::string& destination) {
    return fs.CopyFileOver(source, destination, progress);
  }
  CountingProgress progress;
  std::vector<std::string> ListAll(const std::string& pattern, ListingFilter filter) {
    std::vector<std::string> names;
    std::string name;
    const FsStatus status = fs.FindFirst(pattern, filter, name);
    EXPECT_TRUE(status.ok()) << pattern << " error " << status.error;
    while (!name.empty()) {
      names.push_back(name);
      EXPECT_TRUE(fs.FindNext(name).ok());
    }
    return names;
  }
  std::string First(const std::string& pattern, ListingFilter filter) {
    std::string name = "<untouched>";
    EXPECT_TRUE(fs.FindFirst(pattern, filter, name).ok()) << pattern;
    return name;
  }
  std::string In(const std::string& relative) { return sandbox.Path(relative); }
  // Every entry of a folder, hidden ones too, sorted.
  std::vector<std::string> FolderContent(const std::string& relative) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(testing::PathOf(In(relative)))) {
      names.push_back(testing::TextOf(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  void MakeReadOnly(const std::string& path) {
    std::filesystem::permissions(testing::PathOf(path),
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
  }

  testing::Sandbox sandbox;
  PlatformServices services = MakePlatformServices();
  FileSystem& fs = *services.fileSystem;
  const std::string sep = std::string(1, services.pathSeparator);
};

TEST_F(RealFileSystemTest, ExactPaths) {
  sandbox.WriteFile("cd/setup.exe", "x");
  sandbox.MakeFolder("cd/PCMaster");
  const std::string hidden = sandbox.MakeHiddenFile("cd", "secret.exe");
  constexpr auto kPlain = ListingFilter::kPlainFiles;
  constexpr auto kFolders = ListingFilter::kFoldersAndPlainFiles;

  EXPECT_EQ(First(In("cd/setup.exe"), kPlain), "setup.exe");
  EXPECT_EQ(First(In("cd/setup.exe"), kFolders), "setup.exe");
  EXPECT_EQ(First(In("cd/PCMaster"), kFolders), "PCMaster");
  EXPECT_EQ(First(In("cd/PCMaster"), kPlain), "");
  EXPECT_EQ(First(In("cd/missing"), kFolders), "");
  EXPECT_EQ(First(In("missing/deeper/x"), kFolders), "");
  EXPECT_EQ(First(In("cd") + sep + hidden, kFolders), "");
}

TEST_F(RealFileSystemTest, FolderListings) {
  sandbox.WriteFile("cd/System/a.dat", "a");
  sandbox.WriteFile("cd/System/noext", "b");
  sandbox.WriteFile("cd/System/解説.lad", "c");
  sandbox.MakeFolder("cd/System/trw");
  sandbox.MakeHiddenFile("cd/System", "hidden.dat");

  const std::string folder = In("cd/System") + sep;
  std::vector<std::string> all = ListAll(folder, ListingFilter::kFoldersAndPlainFiles);
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[0], ".");
  EXPECT_EQ(all[1], "..");
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, (std::vector<std::string>{".", "..", "a.dat", "noext", "trw", "解説.lad"}));

  std::vector<std::string> files = ListAll(folder, ListingFilter::kPlainFiles);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"a.dat", "noext", "解説.lad"}));

  EXPECT_TRUE(ListAll(In("cd/Missing") + sep, ListingFilter::kFoldersAndPlainFiles).empty());
  // A file is no folder to list.
  EXPECT_TRUE(ListAll(In("cd/System/a.dat") + sep, ListingFilter::kFoldersAndPlainFiles).empty());
}

TEST_F(RealFileSystemTest, NextAfterTheEndStaysEmpty) {
  sandbox.WriteFile("one/only.txt", "x");
  std::string name;
  ASSERT_TRUE(fs.FindFirst(In("one") + sep, ListingFilter::kPlainFiles, name).ok());
  EXPECT_EQ(name, "only.txt");
  EXPECT_TRUE(fs.FindNext(name).ok());
  EXPECT_EQ(name, "");
  EXPECT_TRUE(fs.FindNext(name).ok());
  EXPECT_EQ(name, "");
}

TEST_F(RealFileSystemTest, Attributes) {
  sandbox.WriteFile("f.txt", "x");
  sandbox.MakeFolder("d");
  uint32_t attributes = 0xFFFF;
  ASSERT_TRUE(fs.GetAttributes(In("d"), attributes).ok());
  EXPECT_NE(attributes & kAttributeDirectory, 0u);
  ASSERT_TRUE(fs.GetAttributes(In("f.txt"), attributes).ok());
  EXPECT_EQ(attributes & kAttributeDirectory, 0u);
  attributes = 7;
  EXPECT_FALSE(fs.GetAttributes(In("missing"), attributes).ok());
  EXPECT_EQ(attributes, 7u);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

class RealCopyTest : public RealFileSystemTest {};

TEST_F(RealCopyTest, CopiesReplaceAndKeepTheSourceStamp) {
  sandbox.WriteFile("cd/a.dat", "new content");
  sandbox.MakeFolder("dest");
  const std::string source = In("cd/a.dat");
  const std::string target = In("dest") + sep + "a.dat";

  ASSERT_TRUE(Copy(source, target).ok());
  // A copy has its name once it is on the disk: at the latest once the copies are flushed.
  ASSERT_TRUE(fs.FlushCopies(In("dest")).ok());
  EXPECT_EQ(sandbox.ReadFile("dest/a.dat"), "new content");
  FileStamp from;
  FileStamp to;
  ASSERT_TRUE(fs.GetFileStamp(source, from).ok());
  ASSERT_TRUE(fs.GetFileStamp(target, to).ok());
  EXPECT_EQ(from, to);

  // A file in the way is replaced, and nothing but the copy is left in the folder.
  sandbox.WriteFile("dest/b.dat", "old and longer content");
  ASSERT_TRUE(Copy(source, In("dest") + sep + "b.dat").ok());
  ASSERT_TRUE(fs.FlushCopies(In("dest")).ok());
  EXPECT_EQ(sandbox.ReadFile("dest/b.dat"), "new content");
  EXPECT_EQ(FolderContent("dest"), (std::vector<std::string>{"a.dat", "b.dat"}));
}

TEST_F(RealCopyTest, AReadOnlyFileInTheWayAndMakingItWritable) {
  sandbox.WriteFile("cd/a.dat", "new");
  sandbox.WriteFile("dest/a.dat", "old");
  const std::string target = In("dest") + sep + "a.dat";
  MakeReadOnly(target);
  uint32_t attributes = 0;
  ASSERT_TRUE(fs.GetAttributes(target, attributes).ok());
  EXPECT_NE(attributes & kAttributeReadOnly, 0u);

#ifdef _WIN32
  // Windows refuses to replace it (Wine would not: the back-end refuses as Windows does).
  EXPECT_FALSE(Copy(In("cd/a.dat"), target).ok());
  fs.FlushCopies(In("dest"));
  EXPECT_EQ(sandbox.ReadFile("dest/a.dat"), "old");
  EXPECT_EQ(FolderContent("dest"), (std::vector<std::string>{"a.dat"}));
#else
  // Linux replaces it, as rename does, whoever owns it.
  ASSERT_TRUE(Copy(In("cd/a.dat"), target).ok());
  ASSERT_TRUE(fs.FlushCopies(In("dest")).ok());
  EXPECT_EQ(sandbox.ReadFile("dest/a.dat"), "new");
  MakeReadOnly(target);
#endif

  ASSERT_TRUE(fs.ClearReadOnly(target).ok());
  ASSERT_TRUE(fs.GetAttributes(target, attributes).ok());
  EXPECT_EQ(attributes & kAttributeReadOnly, 0u);
  ASSERT_TRUE(Copy(In("cd/a.dat"), target).ok());
  ASSERT_TRUE(fs.FlushCopies(In("dest")).ok());
  EXPECT_EQ(sandbox.ReadFile("dest/a.dat"), "new");
}

TEST_F(RealCopyTest, ALargeCopyGoesInChunksWithProgressBetweenThemAndIsFlushed) {
  std::string content(24 << 20, '\0');
  for (size_t i = 0; i < content.size(); i += 4096) content[i] = static_cast<char>(i / 4096);
  sandbox.WriteFile("cd/video.avi", content);
  sandbox.MakeFolder("dest");
  ASSERT_TRUE(Copy(In("cd/video.avi"), In("dest") + sep + "video.avi").ok());
  EXPECT_TRUE(fs.FlushCopies(In("dest")).ok());
  EXPECT_TRUE(sandbox.ReadFile("dest/video.avi") == content);
  // Chunks of at most 4 MiB: at least five calls between six of them.
  EXPECT_GE(progress.calls, 5);

  // A small file is one chunk.
  progress.calls = 0;
  sandbox.WriteFile("cd/small.dat", "x");
  ASSERT_TRUE(Copy(In("cd/small.dat"), In("dest") + sep + "small.dat").ok());
  EXPECT_EQ(progress.calls, 0);
}

TEST_F(RealCopyTest, ACopyAskedToStopFailsAndLeavesNothing) {
  sandbox.WriteFile("cd/video.avi", std::string(24 << 20, 'v'));
  sandbox.WriteFile("dest/video.avi", "the copy before");
  progress.stopAt = 2;
  EXPECT_FALSE(Copy(In("cd/video.avi"), In("dest") + sep + "video.avi").ok());
  EXPECT_EQ(progress.calls, 2);
  fs.FlushCopies(In("dest"));
  EXPECT_EQ(sandbox.ReadFile("dest/video.avi"), "the copy before");
  EXPECT_EQ(FolderContent("dest"), (std::vector<std::string>{"video.avi"}));
}

TEST_F(RealCopyTest, LongPathsAndLongNames) {
  // A destination deeper than MAX_PATH, and a long name.
  std::string deep = "dest";
  while (In(deep).size() < 300) deep += "/" + std::string(40, 'd');
  std::string folder = In("dest");
  ASSERT_TRUE(fs.CreateFolder(folder).ok());
  for (size_t start = 5; start < deep.size(); start += 41) {
    folder += sep + std::string(40, 'd');
    ASSERT_TRUE(fs.CreateFolder(folder).ok()) << folder.size();
  }
#ifdef _WIN32
  // Names that the suffix of a copy under way would take past a name's 255 (which a Linux disk
  // under Wine counts in bytes): the temporary name is cut short to fit, and not between the
  // halves of a character outside the BMP (two UTF-16 units, four bytes).
  const std::vector<std::string> longNames = {std::string(250, 'n'),
                                              std::string(238, 'm') + "\U0001D11E" + "x"};
#else
  // 255 bytes, as much as a name may have: the copy's temporary name must fit too.
  std::string longName;
  for (int i = 0; i < 85; ++i) longName += "長";
  const std::vector<std::string> longNames = {longName};
#endif
  sandbox.WriteFile("cd/a.dat", "far away");
  std::vector<std::string> names = longNames;
  names.insert(names.begin(), "a.dat");
  for (const std::string& name : names) {
    ASSERT_TRUE(Copy(In("cd/a.dat"), folder + sep + name).ok()) << name;
  }
  ASSERT_TRUE(fs.FlushCopies(folder).ok());
  std::vector<std::string> listed = ListAll(folder + sep, ListingFilter::kPlainFiles);
  std::sort(listed.begin(), listed.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(listed, names);
  FileStamp stamp;
  for (const std::string& name : longNames) {
    EXPECT_TRUE(fs.GetFileStamp(folder + sep + name, stamp).ok());
    EXPECT_EQ(stamp.size, 8u);
  }
}

TEST_F(RealCopyTest, AHiddenRecordIsWrittenReadReplacedAndRemoved) {
  sandbox.MakeFolder("dest");
  const std::string record = In("dest") + sep + ".record";
  std::optional<std::string> content = "untouched";
  ASSERT_TRUE(fs.ReadSmallFile(record, 100, content).ok());
  EXPECT_FALSE(content.has_value());

  ASSERT_TRUE(fs.WriteHiddenFileDurably(record, "first\n").ok());
  ASSERT_TRUE(fs.WriteHiddenFileDurably(record, "second\n").ok());
  ASSERT_TRUE(fs.ReadSmallFile(record, 100, content).ok());
  EXPECT_EQ(content, "second\n");
  ASSERT_TRUE(fs.ReadSmallFile(record, 3, content).ok());
  EXPECT_EQ(content, "sec");
  // No listing shows it, and nothing else is left beside it.
  EXPECT_EQ(ListAll(In("dest") + sep, ListingFilter::kFoldersAndPlainFiles),
            (std::vector<std::string>{".", ".."}));
  EXPECT_EQ(FolderContent("dest"), (std::vector<std::string>{".record"}));

  ASSERT_TRUE(fs.RemoveFile(record).ok());
  EXPECT_TRUE(fs.RemoveFile(record).ok());  // gone already: no failure
  EXPECT_EQ(FolderContent("dest"), std::vector<std::string>{});

  // A folder in the record's place: it can be neither written nor read.
  sandbox.MakeFolder("dest/.record");
  EXPECT_FALSE(fs.WriteHiddenFileDurably(record, "x").ok());
  EXPECT_FALSE(fs.ReadSmallFile(record, 100, content).ok());
  EXPECT_FALSE(fs.WriteHiddenFileDurably(In("nowhere") + sep + ".record", "x").ok());
}

TEST_F(RealCopyTest, LeftoversOfCopiesCutOffAreRemovedAndNothingElse) {
  sandbox.WriteFile("dest/a.dat", "a");
  sandbox.WriteFile("dest/notes.velmora-partial.txt", "the user's own");
#ifdef _WIN32
  const std::vector<std::string> leftovers = {"a.dat.velmora-partial", "b.velmora-partial"};
#else
  const std::vector<std::string> leftovers = {".velmora-partial.4242.7", ".a.dat.velmora-partial"};
#endif
  for (const std::string& name : leftovers) sandbox.WriteFile("dest/" + name, "half");
  MakeReadOnly(In("dest") + sep + leftovers.front());
  ASSERT_TRUE(fs.RemoveLeftoverCopies(In("dest")).ok());
  EXPECT_EQ(FolderContent("dest"),
            (std::vector<std::string>{"a.dat", "notes.velmora-partial.txt"}));
  EXPECT_TRUE(fs.RemoveLeftoverCopies(In("nowhere")).ok());
}

TEST_F(RealFileSystemTest, AnEndedListingGivesNoMoreNames) {
  sandbox.WriteFile("cd/a.dat", "x");
  sandbox.WriteFile("cd/b.dat", "x");
  std::string name;
  ASSERT_TRUE(fs.FindFirst(In("cd") + sep, ListingFilter::kPlainFiles, name).ok());
  EXPECT_FALSE(name.empty());
  fs.EndListing();
  ASSERT_TRUE(fs.FindNext(name).ok());
  EXPECT_EQ(name, "");
  fs.EndListing();  // twice is harmless
}

TEST(ChunkPacerTest, ChunksFollowTheTimeTheyTake) {
  using std::chrono::milliseconds;
  constexpr size_t kKiB = 1024;
  constexpr size_t kMiB = kKiB * kKiB;
  constexpr size_t kWhole = SIZE_MAX;  // a chunk that came whole, whatever its size
  struct Chunk {
    size_t bytes;
    milliseconds took;
  };
  struct Row {
    const char* name;
    std::vector<Chunk> chunks;
    size_t size;
  };
  const std::vector<Chunk> quick(20, Chunk{kWhole, milliseconds(1)});
  std::vector<Chunk> quickThenSlow = quick;
  quickThenSlow.push_back({4 * kMiB, milliseconds(2000)});  // 4 MiB in 2 s: a CD at 2 MB/s
  std::vector<Chunk> quickThenSlower = quick;
  quickThenSlower.push_back({4 * kMiB, milliseconds(60)});
  const Row rows[] = {
      {"starts at the smallest", {}, 64 * kKiB},
      {"whole quick chunks double it",
       {{kWhole, milliseconds(1)}, {kWhole, milliseconds(1)}},
       256 * kKiB},
      {"up to the largest", quick, 4 * kMiB},
      {"a steady pace keeps it",
       {{kWhole, milliseconds(1)}, {kWhole, milliseconds(20)}, {kWhole, milliseconds(20)}},
       128 * kKiB},
      // Small files, each read whole in one short quick chunk, say nothing of a large one.
      {"short chunks never grow it", std::vector<Chunk>(20, Chunk{8 * kKiB, milliseconds(1)}),
       64 * kKiB},
      {"a failed try is no chunk", {{0, milliseconds(0)}, {0, milliseconds(0)}}, 64 * kKiB},
      {"a slow source shrinks it at once", quickThenSlow, 64 * kKiB},
      {"to the size that fits the aim", quickThenSlower, kMiB},
  };
  for (const Row& row : rows) {
    ChunkPacer pacer;
    for (const Chunk& chunk : row.chunks) {
      pacer.Took(chunk.bytes == kWhole ? pacer.size() : chunk.bytes, chunk.took);
    }
    EXPECT_EQ(pacer.size(), row.size) << row.name;
  }
  // Each file starts small again.
  ChunkPacer pacer;
  for (const Chunk& chunk : quick) pacer.Took(pacer.size(), chunk.took);
  pacer.StartFile();
  EXPECT_EQ(pacer.size(), 64 * kKiB);
}

TEST_F(RealCopyTest, FailuresLeaveNothingBehind) {
  sandbox.WriteFile("cd/a.dat", "x");
  sandbox.MakeFolder("dest");
  EXPECT_FALSE(Copy(In("cd/missing.dat"), In("dest") + sep + "a.dat").ok());
  EXPECT_FALSE(Copy(In("cd/a.dat"), In("nowhere") + sep + "a.dat").ok());
  fs.FlushCopies(In("dest"));
  EXPECT_TRUE(std::filesystem::is_empty(testing::PathOf(In("dest"))));
  EXPECT_TRUE(fs.CreateFolder(In("dest") + sep + "sub").ok());
  EXPECT_FALSE(fs.CreateFolder(In("dest") + sep + "sub").ok());  // already there
  EXPECT_FALSE(fs.CreateFolder(In("dest/x") + sep + "y").ok());  // one level only
  EXPECT_FALSE(fs.FlushCopies(In("nowhere")).ok());
  FileStamp stamp{7, 7};
  EXPECT_FALSE(fs.GetFileStamp(In("cd/missing.dat"), stamp).ok());
  EXPECT_EQ(stamp, (FileStamp{7, 7}));
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST_F(RealFileSystemTest, APathWithANulNamesNothing) {
  sandbox.WriteFile("cd/a", "x");
  const std::string cut = In("cd/a") + std::string("\0b", 2);  // would be cut back to cd/a
  std::string name = "untouched";
  EXPECT_FALSE(fs.FindFirst(cut, ListingFilter::kPlainFiles, name).ok());
  EXPECT_EQ(name, "untouched");
  uint32_t attributes = 0;
  EXPECT_FALSE(fs.GetAttributes(cut, attributes).ok());
  EXPECT_FALSE(Copy(In("cd/a"), cut).ok());
  EXPECT_FALSE(fs.CreateFolder(In("cd") + sep + std::string("n\0m", 3)).ok());
  EXPECT_EQ(sandbox.ReadFile("cd/a"), "x");
}

}  // namespace
}  // namespace velmora

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mount.h>

#include <cerrno>
#endif

namespace velmora {
namespace {

TEST_F(RealFileSystemTest, TheSystemsReasonForAFailureIsOneLineInTheUsersLanguage) {
#ifdef _WIN32
  // What the system itself says in the user's language, as one line.
  for (const DWORD error : {DWORD{ERROR_DISK_FULL}, DWORD{ERROR_ACCESS_DENIED},
                            DWORD{ERROR_FILE_NOT_FOUND}, DWORD{ERROR_CRC}}) {
    wchar_t text[512] = {};
    ASSERT_NE(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, LANG_USER_DEFAULT, text, 512, nullptr) +
                  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, text, 512, nullptr),
              0u);
    const std::string reason = fs.DescribeError(static_cast<int>(error));
    EXPECT_NE(reason.find(testing::TextOf(std::filesystem::path(text)).substr(0, 8)),
              std::string::npos)
        << error << ": " << reason;
    EXPECT_EQ(reason.find_first_of("\r\n"), std::string::npos) << error;
    EXPECT_NE(reason.back(), ' ') << error;
  }
#else
  // The common reasons in Japanese, as the Japanese Windows words them; any other as the system
  // words it.
  const std::pair<int, const char*> rows[] = {
      {ENOSPC, "ディスクに十分な空き領域がありません。"},
      {EACCES, "アクセスが拒否されました。"},
      {EPERM, "アクセスが拒否されました。"},
      {EIO, "デバイスの読み取りまたは書き込みでエラーが発生しました。"},
      {ENOENT, "指定されたファイルが見つかりません。"},
  };
  for (const auto& [error, reason] : rows) EXPECT_EQ(fs.DescribeError(error), reason) << error;
  EXPECT_EQ(fs.DescribeError(EXDEV), std::strerror(EXDEV));
#endif
  EXPECT_FALSE(fs.DescribeError(987654).empty());
}

#ifndef _WIN32
TEST_F(RealCopyTest, AFullDiskIsReportedAsSuch) {
  // A file system of 256 KiB is full after one copy of 300 KB; mounting one needs root, as CI is.
  sandbox.MakeFolder("small");
  if (::mount("tmpfs", In("small").c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  }
  sandbox.WriteFile("cd/big.dat", std::string(300000, 'x'));
  FsStatus status = fs.CopyFileOver(In("cd/big.dat"), In("small/big.dat"), progress);
  if (status.ok()) status = fs.FlushCopies(In("small"));
  EXPECT_FALSE(status.ok());
  EXPECT_EQ(fs.DescribeError(status.error), "ディスクに十分な空き領域がありません。");
  EXPECT_TRUE(std::filesystem::is_empty(testing::PathOf(In("small"))));  // nothing half-written
  ::umount(In("small").c_str());
}
#endif

}  // namespace
}  // namespace velmora
