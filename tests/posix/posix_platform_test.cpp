#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

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
  sandbox.WriteFile("machine.reg", std::string(kExport) + "\"Long\"=\"" + std::string(300, 'x') +
                                       "\"\n");
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
  ASSERT_TRUE(fs.FindFirst(sandbox.Path("cd/pipe"), ListingFilter::kFoldersAndPlainFiles, name).ok());
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
  EXPECT_FALSE(fs.FindFirst(sandbox.Path("loop/"), ListingFilter::kFoldersAndPlainFiles, name).ok());
  EXPECT_EQ(name, "untouched");
}

}  // namespace
}  // namespace velmora
