#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

#include "copy/copy_procedure.h"
#include "platform/platform_services.h"
#include "tests/fakes/forwarding_file_system.h"
#include "tests/fakes/recording_progress.h"
#include "tests/support/sandbox.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/win32_text.h"
#include "tests/support/installer_records_win32.h"
#else
#include <sys/stat.h>
#endif

// A whole copy run through the real back-ends of the platform under test, from a generated
// install CD to a real destination. On Windows (under Wine) the CD is drive R:, which the test
// set-up links to C:\velmora-e2e-cd; the installer's values are written as the 32-bit installer
// writes them, and the Windows release that Wine reports decides whether the destination below
// C:\Program Files moves to C:\Tarnwell.
namespace velmora {
namespace {

namespace fs = std::filesystem;
using testing::PathOf;
using testing::TextOf;

using Tree = std::map<std::string, std::string>;  // relative path ('/') -> content

// The files of a tree, hidden ones too (a copy's record, a copy under way).
Tree ReadTree(const fs::path& root) {
  Tree tree;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_regular_file()) continue;
    std::ifstream in(it->path(), std::ios::binary);
    tree[TextOf(it->path().lexically_relative(root).generic_u8string())] =
        std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  return tree;
}

// A tree with long contents shown by size and checksum, so that a difference is readable.
Tree Digests(const Tree& tree) {
  Tree digests;
  for (const auto& [path, content] : tree) {
    uint32_t hash = 2166136261u;
    for (const char c : content) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    digests[path] = content.size() <= 32
                        ? content
                        : std::to_string(content.size()) + " bytes, FNV-1a " + std::to_string(hash);
  }
  return digests;
}

// The files of a tree under the names a listing shows.
Tree VisibleFiles(const fs::path& root) {
  Tree visible;
  for (const auto& [path, content] : ReadTree(root)) {
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name.front() == '.' || name.find(".velmora-partial") != std::string::npos) continue;
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW((root / PathOf(path)).c_str());
    if ((attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) continue;
#endif
    visible[path] = content;
  }
  return visible;
}

struct ProcessKilled : std::runtime_error {
  ProcessKilled() : std::runtime_error("killed") {}
};

// The real file system, ending the run where the process is killed before copy `killAt`.
class KillingFileSystem final : public testing::ForwardingFileSystem {
 public:
  KillingFileSystem(FileSystem& real, int killAt) : ForwardingFileSystem(real), killAt_(killAt) {}
  FsStatus CopyFileOver(std::string_view s, std::string_view d, CopyProgress& p) override {
    if (++copies_ == killAt_) throw ProcessKilled();
    return real_.CopyFileOver(s, d, p);
  }

 private:
  int killAt_;
  int copies_ = 0;
};

class CopyRunEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    // Before Vista the destination stays below the program-files folder; from Vista on it moves
    // to the maker folder at the drive root.
    cdFolder_ = PathOf("C:\\velmora-e2e-cd");
    relocated_ = testing::ReportedWineVersion() != "winxp";
    destination_ =
        PathOf(relocated_ ? "C:\\Tarnwell\\VelmoraE2E" : "C:\\Program Files\\VelmoraE2E");
    CleanUp();
    ASSERT_TRUE(fs::exists(cdFolder_)) << "the test set-up links R: to C:\\velmora-e2e-cd";
    ASSERT_TRUE(testing::WriteInstallerValue("SetupDir", "R:\\"));
    ASSERT_TRUE(testing::WriteInstallerValue("SystemDir", "C:\\Program Files\\VelmoraE2E\\System"));
#else
    cdFolder_ = PathOf(sandbox_.Path("cd"));
    destination_ = PathOf(sandbox_.Path("install/Velmora"));
    sandbox_.MakeFolder("install");
    WriteInstallerRecords();
    ::setenv("VELMORA_MACHINE_REG", sandbox_.Path("machine.reg").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", sandbox_.Path("config").c_str(), 1);
#endif
    services_ = MakePlatformServices();
    settings_ =
        std::make_unique<InstallerSettings>(*services_.machineRegistry, *services_.userSettings);
    version_ = std::make_unique<WindowsVersion>(*services_.versionSource);
    ASSERT_TRUE(services_.userSettings->Write("Velmora", "Info", "SetupMk", "O"));
    MakeCd();
  }

  void TearDown() override {
#ifdef _WIN32
    CleanUp();
#endif
  }

#ifdef _WIN32
  void CleanUp() {
    std::error_code ignored;
    for (const fs::path& root : {cdFolder_, destination_}) {
      for (auto it = fs::recursive_directory_iterator(root, ignored);
           it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
      }
    }
    for (auto it = fs::directory_iterator(cdFolder_, ignored); it != fs::directory_iterator();
         it.increment(ignored)) {
      fs::remove_all(it->path(), ignored);
    }
    fs::remove_all(destination_, ignored);
    fs::remove(PathOf("C:\\Tarnwell"), ignored);  // only when empty
    testing::RemoveInstallerRecords();
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Velmora");
  }
#endif

  // Writes a CD file, read-only as CD media are.
  void CdFile(const std::string& relative, const std::string& content) {
    const fs::path path = cdFolder_ / PathOf(relative);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    expectedSource_[relative] = content;
  }
  void HiddenCdFile(const std::string& folder, const std::string& name) {
#ifdef _WIN32
    CdFile(folder + "/" + name, "hidden");
    SetFileAttributesW((cdFolder_ / PathOf(folder + "/" + name)).c_str(),
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
#else
    CdFile(folder + "/." + name, "hidden");
#endif
  }
  void SystemCdFile(const std::string& folder, const std::string& name) {
#ifdef _WIN32
    CdFile(folder + "/" + name, "system");
    SetFileAttributesW((cdFolder_ / PathOf(folder + "/" + name)).c_str(), FILE_ATTRIBUTE_SYSTEM);
#else
    // A pipe is what stands for a system entry here: never listed, never copied.
    fs::create_directories(cdFolder_ / PathOf(folder));
    ASSERT_EQ(::mkfifo(TextOf(cdFolder_ / PathOf(folder + "/" + name)).c_str(), 0600), 0);
#endif
  }

  void MakeCd() {
    CdFile("setup.exe", "installer");
    for (int i = 1; i <= 12; ++i) {
      CdFile("System/sys" + std::to_string(i) + ".dat", std::string(100 * i, char('a' + i)));
      expected_["System/sys" + std::to_string(i) + ".dat"] = std::string(100 * i, char('a' + i));
    }
    for (int i = 1; i <= 3; ++i) {
      CdFile("System/trw/trw" + std::to_string(i), "trw " + std::to_string(i));  // no extension
      expected_["System/trw/trw" + std::to_string(i)] = "trw " + std::to_string(i);
    }
    HiddenCdFile("System", "hidden.dat");
    SystemCdFile("System", "system.dat");
    CdFile("PCMaster/master.pcm", std::string("\0\1\2binary\xFF", 10));
    expected_["Folder_1/master.pcm"] = std::string("\0\1\2binary\xFF", 10);
    CdFile("PCMaster/回路図.lad", "Japanese name");
    expected_["Folder_1/回路図.lad"] = "Japanese name";
    for (const std::string maker : {"M", "O", "Null"}) {
      CdFile(maker + "/解説回路/" + maker + "1.lad", "explained " + maker);
      CdFile(maker + "/基本回路/" + maker + "2.lad", "basic " + maker);
      CdFile(maker + "/組込回路/" + maker + "3.lad", "built-in " + maker);
      CdFile(maker + "/基本回路/sub/" + maker + "4.lad", "nested " + maker);
    }
    expected_["Folder_2/O1.lad"] = "explained O";
    expected_["Folder_1/O2.lad"] = "basic O";
    expected_["Folder_1/O3.lad"] = "built-in O";
    CdFile("Help/manual.htm", "<html>manual</html>");
    CdFile("Help/image/fig.png", "png");
    CdFile("Help/video/clip.avi", std::string(300000, 'v'));
    CdFile("Help/other/extra.txt", "not copied");
    CdFile("Help/video/clips/inner.avi", "not copied");
    expected_["Help/manual.htm"] = "<html>manual</html>";
    expected_["Help/image/fig.png"] = "png";
    expected_["Help/video/clip.avi"] = std::string(300000, 'v');
  }

  std::string Run(FileSystem& fileSystem, testing::RecordingProgress& view) {
    CopyProcedure procedure(fileSystem, *settings_, *version_, services_.pathSeparator);
    procedure.SetProgressDisplay(view);
    procedure.RunCopy();
    return procedure.ResultMessage;
  }
  std::string UserSetting(const char* section, const char* key) {
    std::string value;
    EXPECT_TRUE(services_.userSettings->Read("Velmora", section, key, "<none>", value));
    return value;
  }

#ifndef _WIN32
  // The machine registry export as the installer's records: the CD and the destination's System.
  void WriteInstallerRecords() {
    sandbox_.WriteFile("machine.reg",
                       "Windows Registry Editor Version 5.00\n"
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
                       "\"SetupDir\"=\"" +
                           TextOf(cdFolder_) + "/\"\n" + "\"SystemDir\"=\"" + TextOf(destination_) +
                           "/System\"\n");
  }

  testing::Sandbox sandbox_;
#endif
  bool relocated_ = false;
  fs::path cdFolder_;
  fs::path destination_;
  PlatformServices services_;
  std::unique_ptr<InstallerSettings> settings_;
  std::unique_ptr<WindowsVersion> version_;
  Tree expected_;
  Tree expectedSource_;
};

TEST_F(CopyRunEndToEndTest, CopiesTheWholeTreeOnceAndKeepsWhatWasThere) {
  // A Help folder of the user's own, made before.
  fs::create_directories(destination_ / "Help");
  std::ofstream(destination_ / "Help" / "notes.txt") << "mine";
  expected_["Help/notes.txt"] = "mine";

  testing::RecordingProgress view;
  ASSERT_EQ(Run(*services_.fileSystem, view), "");
  // Nothing else: no record of the copy, no copy under a temporary name.
  EXPECT_EQ(Digests(ReadTree(destination_)), Digests(expected_));
#ifdef _WIN32
  // The maker folder is made on Vista and later only.
  EXPECT_EQ(fs::is_directory(PathOf("C:\\Tarnwell")), relocated_);
#endif
  for (const char* folder :
       {"System/trw", "Help/image", "Help/video", "Folder_1", "Folder_2", "BackUp"}) {
    EXPECT_TRUE(fs::is_directory(destination_ / folder)) << folder;
  }
  std::vector<std::string> labels;
  for (int i = 1; i <= 23; ++i) labels.push_back(std::to_string(i));
  labels.push_back("");
  EXPECT_EQ(view.history, labels);
  EXPECT_EQ(UserSetting("Info", "SetupMk"), "Null");

  testing::RecordingProgress second;
  EXPECT_EQ(Run(*services_.fileSystem, second), "\u3000既にインストールＣＤからコピー済みです。");
  EXPECT_TRUE(second.history.empty());
  EXPECT_EQ(Digests(ReadTree(destination_)), Digests(expected_));
}

TEST_F(CopyRunEndToEndTest, DestinationFoldersThatAreThereButHiddenAreCopiedInto) {
  // Folders of the tree that no listing shows are still there: the copy goes into them.
#ifdef _WIN32
  for (const auto& [folder, attributes] :
       {std::pair<const char*, DWORD>{"", FILE_ATTRIBUTE_HIDDEN},
        {"Help", FILE_ATTRIBUTE_SYSTEM},
        {"Folder_1", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}}) {
    fs::create_directories(destination_ / folder);
    ASSERT_TRUE(SetFileAttributesW((destination_ / folder).c_str(), attributes)) << folder;
  }
#else
  // A destination root whose name begins with a dot.
  destination_ = PathOf(sandbox_.Path("install/.Velmora"));
  fs::create_directories(destination_);
  WriteInstallerRecords();
#endif
  testing::RecordingProgress view;
  ASSERT_EQ(Run(*services_.fileSystem, view), "");
  EXPECT_EQ(Digests(ReadTree(destination_)), Digests(expected_));
  EXPECT_EQ(UserSetting("Info", "SetupMk"), "Null");
}

TEST_F(CopyRunEndToEndTest, ARunKilledMidwayIsCompletedByTheNextWhoeverRunsIt) {
  {
    // A program of its own, killed before its fourth copy.
    PlatformServices dying = MakePlatformServices();
    KillingFileSystem killed(*dying.fileSystem, 4);
    testing::RecordingProgress view;
    EXPECT_THROW(Run(killed, view), ProcessKilled);
  }
  // The record lies beside the copies; whatever stands under a final name is whole.
  EXPECT_TRUE(fs::is_regular_file(destination_ / ".velmora-cdcopy-under-way"));
  for (const auto& [path, content] : VisibleFiles(destination_)) {
    EXPECT_EQ(content, expected_[path]) << path;
  }
  // What a copy that was cut off leaves, from this release and the one before.
#ifdef _WIN32
  std::ofstream(destination_ / "System" / "sys1.dat.velmora-partial") << "half";
#else
  std::ofstream(destination_ / "System" / ".velmora-partial.4242.7") << "half";
  std::ofstream(destination_ / "Help" / "video" / ".clip.avi.velmora-partial") << "half";
#endif

  // Another user: none of the first one's settings, but the maker the installer recorded.
#ifdef _WIN32
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Velmora");
#else
  fs::remove_all(PathOf(sandbox_.Path("config")));
#endif
  ASSERT_TRUE(services_.userSettings->Write("Velmora", "Info", "SetupMk", "O"));
  testing::RecordingProgress next;
  ASSERT_EQ(Run(*services_.fileSystem, next), "");
  EXPECT_EQ(Digests(ReadTree(destination_)), Digests(expected_));
  EXPECT_EQ(next.history.size(), 24u);
  EXPECT_EQ(UserSetting("Info", "SetupMk"), "Null");
  testing::RecordingProgress third;
  EXPECT_EQ(Run(*services_.fileSystem, third), "\u3000既にインストールＣＤからコピー済みです。");
}

TEST_F(CopyRunEndToEndTest, ADestinationWhereTheRecordCannotBeWrittenCopiesNothing) {
  // A folder where the record's file would go: the record cannot be written, whoever runs.
  fs::create_directories(destination_ / ".velmora-cdcopy-under-way");
  testing::RecordingProgress view;
  const std::string message = Run(*services_.fileSystem, view);
  EXPECT_EQ(message.rfind("\u3000コピー先のフォルダに書き込めません。（" + TextOf(destination_), 0),
            0u)
      << message;
  EXPECT_FALSE(fs::exists(destination_ / "System"));
  EXPECT_TRUE(view.history.empty());
}

}  // namespace
}  // namespace velmora
