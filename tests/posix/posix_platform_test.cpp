#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "platform/installer_settings.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/ini_settings_store.h"
#include "platform/posix/posix_file_system.h"
#include "tests/support/sandbox.h"

namespace velmora {
namespace {

constexpr const char* kExport =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
    "\"SetupDir\"=\"/media/cdrom/\"\n"
    "\"Binary\"=hex:01,0a,ff\n";

TEST(FileRegistryTest, AnswersAsTheRegistryDoes) {
  testing::Sandbox sandbox;
  sandbox.WriteFile("machine.reg",
                    std::string(kExport) + "\"Long\"=\"" + std::string(300, 'x') + "\"\n");
  FileRegistry registry(sandbox.Path("machine.reg"));
  RegistryReader reader(registry);
  reader.RegKeyPath = "Velmora\\Info";
  const std::pair<const char*, const char*> rows[] = {
      {"SetupDir", "/media/cdrom/"}, {"setupdir", "/media/cdrom/"},
      {"Binary", "01 0A FF "},       {"Long", "GetErr"},
      {"Missing", "GetErr"},
  };
  for (const auto& [name, expected] : rows) {
    reader.RegValueName = name;
    reader.ReadRegistryValue();
    EXPECT_EQ(reader.RegValueData, expected) << name;
  }
  uint8_t buffer[256];
  uint32_t type = 0;
  uint32_t count = sizeof buffer;
  RegKeyHandle key = 0;
  ASSERT_EQ(registry.OpenKeyForQuery("Software\\Velmora\\Info", key), kRegSuccess);
  EXPECT_EQ(registry.QueryValue(key, "Long", type, buffer, count), kRegMoreData);
  EXPECT_EQ(count, 301u);
  EXPECT_EQ(registry.CloseKey(key), kRegSuccess);
  EXPECT_NE(registry.OpenKeyForQuery("Software\\Nothing", key), kRegSuccess);
}

TEST(FileRegistryTest, MissingOrGarbledFilesGiveGetErr) {
  testing::Sandbox sandbox;
  sandbox.WriteFile("garbled.reg", std::string("\xFF\xFE\x00\xD8garbage", 11));
  for (const char* file : {"missing.reg", "garbled.reg"}) {
    FileRegistry registry(sandbox.Path(file));
    RegistryReader reader(registry);
    reader.RegKeyPath = "Velmora\\Info";
    reader.RegValueName = "SetupDir";
    reader.ReadRegistryValue();
    EXPECT_EQ(reader.RegValueData, "GetErr") << file;
  }
}

std::string ReadSetupDir(const std::string& file) {
  FileRegistry registry(file);
  RegistryReader reader(registry);
  reader.RegKeyPath = "Velmora\\Info";
  reader.RegValueName = "SetupDir";
  reader.ReadRegistryValue();
  return reader.RegValueData;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

struct FileKindRow {
  const char* name;
  std::function<std::string(testing::Sandbox&)> make;  // gives the path to read
  const char* expected;  // nullptr: GetErr, with one diagnostic that says this:
  const char* diagnostic;
};

// A folder, a pipe, a device or a socket is never read: one line on stderr names it, the answer
// is GetErr, and nothing waits. Links are followed to what they name.
TEST(FileRegistryTest, NothingButARegularFileIsRead) {
  const auto unixSocket = [](testing::Sandbox& sandbox) {
    const std::string path = sandbox.Path("socket.reg");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, 1), 0);  // left open: the socket stays live until the test ends
    return path;
  };
  const FileKindRow rows[] = {
      {"folder",
       [](testing::Sandbox& s) {
         s.MakeFolder("dir.reg");
         return s.Path("dir.reg");
       },
       nullptr, "it is a folder, not a regular file"},
      {"named pipe without a writer",
       [](testing::Sandbox& s) {
         EXPECT_EQ(::mkfifo(s.Path("pipe.reg").c_str(), 0600), 0);
         return s.Path("pipe.reg");
       },
       nullptr, "it is a named pipe, not a regular file"},
      {"endless device", [](testing::Sandbox&) { return std::string("/dev/zero"); }, nullptr,
       "it is a device, not a regular file"},
      {"empty device", [](testing::Sandbox&) { return std::string("/dev/null"); }, nullptr,
       "it is a device, not a regular file"},
      // A socket cannot even be opened.
      {"socket", unixSocket, nullptr, std::strerror(ENXIO)},
      {"link to a pipe",
       [](testing::Sandbox& s) {
         EXPECT_EQ(::mkfifo(s.Path("pipe").c_str(), 0600), 0);
         EXPECT_EQ(::symlink(s.Path("pipe").c_str(), s.Path("link.reg").c_str()), 0);
         return s.Path("link.reg");
       },
       nullptr, "it is a named pipe, not a regular file"},
      {"link to a regular file",
       [](testing::Sandbox& s) {
         s.WriteFile("machine.reg", kExport);
         EXPECT_EQ(::symlink(s.Path("machine.reg").c_str(), s.Path("link.reg").c_str()), 0);
         return s.Path("link.reg");
       },
       "/media/cdrom/", nullptr},
  };
  for (const FileKindRow& row : rows) {
    testing::Sandbox sandbox;
    const std::string path = row.make(sandbox);
    ::alarm(10);  // a read that waits ends the test run here rather than never
    ::testing::internal::CaptureStderr();
    const std::string answer = ReadSetupDir(path);
    const std::vector<std::string> diagnostics = Lines(::testing::internal::GetCapturedStderr());
    ::alarm(0);
    if (row.expected != nullptr) {
      EXPECT_EQ(answer, row.expected) << row.name;
      EXPECT_TRUE(diagnostics.empty()) << row.name;
      continue;
    }
    EXPECT_EQ(answer, "GetErr") << row.name;
    ASSERT_EQ(diagnostics.size(), 1u) << row.name;
    EXPECT_EQ(diagnostics[0],
              "velmora: " + path + ": cannot read the machine registry file: " + row.diagnostic)
        << row.name;
  }
}

// What the file says last about the key holds, values and the key itself alike.
TEST(FileRegistryTest, DefinitionsAndDeletionsApplyInFileOrder) {
  const std::string head =
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
      "\"SetupDir\"=\"/media/cdrom/\"\n";
  const std::pair<std::string, const char*> rows[] = {
      {head, "/media/cdrom/"},
      {head + "\"SetupDir\"=-\n", "GetErr"},
      {head + "\"SETUPDIR\"=\"/media/other/\"\n", "/media/other/"},
      {head + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora]\n", "GetErr"},
      {head + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora]\n[HKEY_LOCAL_"
              "MACHINE\\SOFTWARE\\Velmora\\Info]\n"
              "\"SetupDir\"=\"/media/again/\"\n",
       "/media/again/"},
  };
  for (const auto& [text, expected] : rows) {
    testing::Sandbox sandbox;
    sandbox.WriteFile("machine.reg", text);
    EXPECT_EQ(ReadSetupDir(sandbox.Path("machine.reg")), expected) << text;
  }
}

// Problems name the file and line, once each however often the file is read, and a file full of
// them shows the first few and a count.
TEST(FileRegistryTest, ProblemsAreReportedByLineAndBounded) {
  testing::Sandbox sandbox;
  std::string text =
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
      "\"Other\"=\"" +
      std::string(RegFile::kMaxLineBytes, 'x') + "\"\n";
  for (int i = 0; i < 25; ++i) text += "stray\n";
  text += "\"SetupDir\"=\"/media/cdrom/\"\n";
  sandbox.WriteFile("machine.reg", text);
  const std::string path = sandbox.Path("machine.reg");

  FileRegistry registry(path);
  RegistryReader reader(registry);
  reader.RegKeyPath = "Velmora\\Info";
  reader.RegValueName = "SetupDir";
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    reader.ReadRegistryValue();
    EXPECT_EQ(reader.RegValueData, "/media/cdrom/");
  }
  const std::vector<std::string> diagnostics = Lines(::testing::internal::GetCapturedStderr());
  ASSERT_EQ(diagnostics.size(), FileRegistry::kMaxReportedProblems + 1u);
  EXPECT_EQ(diagnostics[0], "velmora: " + path + ":3: line longer than 1048576 bytes: skipped");
  EXPECT_EQ(diagnostics[1], "velmora: " + path + ":4: neither a [key], a value nor a comment");
  EXPECT_EQ(diagnostics.back(), "velmora: " + path + ": 16 more problems not shown");
}

TEST(FileRegistryTest, DefaultPathComesFromTheEnvironment) {
  ::setenv("VELMORA_MACHINE_REG", "/tmp/x.reg", 1);
  EXPECT_EQ(FileRegistry::DefaultPath(), "/tmp/x.reg");
  ::unsetenv("VELMORA_MACHINE_REG");
  EXPECT_EQ(FileRegistry::DefaultPath(), "/etc/velmora/machine.reg");
}

TEST(IniSettingsStoreTest, ReadsWritesAndFallsBackToTheDefault) {
  testing::Sandbox sandbox;
  IniSettingsStore store(sandbox.Path("config"));
  std::string value = "untouched";
  ASSERT_TRUE(store.Read("Velmora", "Info", "SetupMk", "GetErr", value));
  EXPECT_EQ(value, "GetErr");

  ASSERT_TRUE(store.Write("Velmora", "Info", "SetupMk", "Null"));
  ASSERT_TRUE(store.Write("Velmora", "Info", "SetupDir", "/media/解説, 2/"));
  ASSERT_TRUE(store.Read("Velmora", "Info", "SetupMk", "GetErr", value));
  EXPECT_EQ(value, "Null");
  ASSERT_TRUE(store.Read("Velmora", "Info", "SetupDir", "GetErr", value));
  EXPECT_EQ(value, "/media/解説, 2/");
  EXPECT_EQ(store.FilePath("Velmora"), sandbox.Path("config/Velmora/Velmora.ini"));
}

TEST(IniSettingsStoreTest, ReadsAFileWrittenByHand) {
  testing::Sandbox sandbox;
  sandbox.WriteFile("config/Velmora/Velmora.ini",
                    "[Info]\nSetupMk=O\nSystemDir=/opt/Velmora/System\nEmpty=\n");
  IniSettingsStore store(sandbox.Path("config"));
  const std::pair<const char*, const char*> rows[] = {
      {"SetupMk", "O"}, {"SystemDir", "/opt/Velmora/System"}, {"Empty", ""}, {"Other", "GetErr"}};
  for (const auto& [key, expected] : rows) {
    std::string value;
    ASSERT_TRUE(store.Read("Velmora", "Info", key, "GetErr", value));
    EXPECT_EQ(value, expected) << key;
  }
}

TEST(IniSettingsStoreTest, AWriteThatCannotLandFailsAndKeepsTheOldFile) {
  testing::Sandbox sandbox;
  // A file where the application's folder should be: nothing can be written below it.
  sandbox.WriteFile("config/Velmora", "not a folder");
  IniSettingsStore store(sandbox.Path("config"));
  EXPECT_FALSE(store.Write("Velmora", "Info", "SetupMk", "Null"));
  EXPECT_EQ(sandbox.ReadFile("config/Velmora"), "not a folder");
}

TEST(PosixFileSystemTest, DevicesAndPipesAreNeverListed) {
  testing::Sandbox sandbox;
  sandbox.WriteFile("cd/a.dat", "a");
  ASSERT_EQ(::mkfifo(sandbox.Path("cd/pipe").c_str(), 0600), 0);
  PosixFileSystem fs;
  std::string name;
  ASSERT_TRUE(
      fs.FindFirst(sandbox.Path("cd/pipe"), ListingFilter::kFoldersAndPlainFiles, name).ok());
  EXPECT_EQ(name, "");
  ASSERT_TRUE(fs.FindFirst(sandbox.Path("cd/"), ListingFilter::kPlainFiles, name).ok());
  EXPECT_EQ(name, "a.dat");
  ASSERT_TRUE(fs.FindNext(name).ok());
  EXPECT_EQ(name, "");
}

TEST(PosixFileSystemTest, APathThatCannotBeResolvedIsAFailureNotAbsence) {
  testing::Sandbox sandbox;
  // A link to itself cannot be resolved, whoever asks (root included).
  ASSERT_EQ(::symlink(sandbox.Path("loop").c_str(), sandbox.Path("loop").c_str()), 0);
  PosixFileSystem fs;
  std::string name = "untouched";
  EXPECT_FALSE(fs.FindFirst(sandbox.Path("loop"), ListingFilter::kFoldersAndPlainFiles, name).ok());
  EXPECT_FALSE(
      fs.FindFirst(sandbox.Path("loop/"), ListingFilter::kFoldersAndPlainFiles, name).ok());
  EXPECT_EQ(name, "untouched");
}

TEST(PosixFileSystemTest, AnotherAccountsReadOnlyCopyIsReplacedWhereTheFolderAllows) {
  // A run by one account was cut off after some of its copies, read-only as the CD's files are,
  // were named. Only their owner can make them writable; another account's run replaces them as
  // the shared folder lets it, as on Windows any user of the shared folder may clear the
  // attribute.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to give a file to another account";
  testing::Sandbox sandbox;
  sandbox.WriteFile("cd/a.dat", "new");
  sandbox.WriteFile("dest/a.dat", "old");
  const std::string target = sandbox.Path("dest/a.dat");
  ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
  ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
  struct : CopyProgress {
    bool ChunkCopied() override { return true; }
  } goOn;
  PosixFileSystem fs;
  ASSERT_TRUE(fs.CopyFileOver(sandbox.Path("cd/a.dat"), target, goOn).ok());
  ASSERT_TRUE(fs.FlushCopies(sandbox.Path("dest")).ok());
  EXPECT_EQ(sandbox.ReadFile("dest/a.dat"), "new");
}

}  // namespace
}  // namespace velmora
