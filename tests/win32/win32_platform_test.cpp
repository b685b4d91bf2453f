#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/installer_settings.h"
#include "platform/platform_services.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_settings_store.h"
#include "platform/win32/win32_text.h"
#include "tests/support/installer_records_win32.h"

// The Windows back-ends against the real registry: values are written into a test key with the
// registry API and removed afterwards.
namespace velmora {
namespace {

constexpr wchar_t kTestKey[] = L"Software\\VelmoraBackendTest";
constexpr wchar_t kTestInfoKey[] = L"Software\\VelmoraBackendTest\\Info";
constexpr const char* kApplication = "VelmoraBackendTest";

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestInfoKey, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
    reader.RegKeyPath = "VelmoraBackendTest\\Info";
  }
  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTestKey);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\VelmoraBackendTest");
  }
  void SetWide(const wchar_t* name, DWORD type, const std::wstring& text) {
    const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(
        RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()), bytes),
        ERROR_SUCCESS);
  }
  void SetBytes(const wchar_t* name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }
  std::string Read(const char* name) {
    reader.RegValueName = name;
    reader.ReadRegistryValue();
    return reader.RegValueData;
  }

  HKEY key_ = nullptr;
  Win32Registry registry;
  RegistryReader reader{registry};
};

TEST_F(Win32RegistryTest, TextFormsFromTheRealRegistry) {
  SetWide(L"SetupDir", REG_SZ, L"E:\\");
  SetWide(L"Empty", REG_SZ, L"");
  SetWide(L"Fits", REG_SZ, std::wstring(255, L'x'));
  SetWide(L"TooLong", REG_SZ, std::wstring(256, L'x'));
  SetWide(L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\x");
  SetBytes(L"One", REG_DWORD, std::string("\x01\x00\x00\x00", 4));
  SetBytes(L"Three", REG_DWORD, std::string("\x2C\x01\x00\x00", 4));
  SetBytes(L"Binary", REG_BINARY, "\x01\x0A\xFF");
  SetBytes(L"NoBytes", REG_BINARY, "");
  SetWide(L"List", REG_MULTI_SZ, std::wstring(L"a\0bc\0", 5));

  const std::pair<const char*, std::string> rows[] = {
      {"SetupDir", "E:\\"},    {"setupdir", "E:\\"},
      {"Empty", ""},           {"Fits", std::string(255, 'x')},
      {"TooLong", "GetErr"},   {"Expand", "%SystemRoot%\\x"},
      {"One", "00000001"},     {"Three", "0000012C"},
      {"Binary", "01 0A FF "}, {"NoBytes", ""},
      {"List", "a\r\nbc\r\n"}, {"Missing", "GetErr"},
  };
  for (const auto& [name, expected] : rows) EXPECT_EQ(Read(name), expected) << name;

  reader.RegKeyPath = "VelmoraBackendTest\\NoSuchKey";
  EXPECT_EQ(Read("SetupDir"), "GetErr");
}

TEST_F(Win32RegistryTest, JapaneseTextUnderTheAnsiCodePage) {
  const char* expected = std::getenv("VELMORA_EXPECT_ANSI_CODE_PAGE");
  if (expected != nullptr) {
    ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(expected)));
  }
  if (GetACP() != 932) GTEST_SKIP() << "ANSI code page " << GetACP() << " holds no Japanese";
  SetWide(L"Maker", REG_SZ, Utf8ToWide("解説回路"));
  EXPECT_EQ(Read("Maker"), "解説回路");
  // 128 double-byte characters are 257 narrow bytes with the terminator: over the limit.
  std::string long128;
  for (int i = 0; i < 128; ++i) long128 += "解";
  SetWide(L"Long", REG_SZ, Utf8ToWide(long128));
  EXPECT_EQ(Read("Long"), "GetErr");
}

TEST_F(Win32RegistryTest, PerUserStoreWritesAndReadsBack) {
  Win32SettingsStore store;
  std::string value = "untouched";
  ASSERT_TRUE(store.Read(kApplication, "Info", "SetupMk", "GetErr", value));
  EXPECT_EQ(value, "GetErr");
  ASSERT_TRUE(store.Write(kApplication, "Info", "SetupMk", "Null"));
  ASSERT_TRUE(store.Write(kApplication, "Info", "Japanese", "基本回路"));
  ASSERT_TRUE(store.Read(kApplication, "Info", "SetupMk", "GetErr", value));
  EXPECT_EQ(value, "Null");
  ASSERT_TRUE(store.Read(kApplication, "Info", "Japanese", "GetErr", value));
  EXPECT_EQ(value, "基本回路");
  ASSERT_TRUE(store.Read(kApplication, "Info", "Other", "GetErr", value));
  EXPECT_EQ(value, "GetErr");

  // Where the classic settings area keeps it.
  HKEY user = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER,
                          L"Software\\VB and VBA Program Settings\\VelmoraBackendTest\\Info", 0,
                          KEY_QUERY_VALUE, &user),
            ERROR_SUCCESS);
  wchar_t data[16] = {};
  DWORD size = sizeof data;
  DWORD type = 0;
  EXPECT_EQ(
      RegQueryValueExW(user, L"SetupMk", nullptr, &type, reinterpret_cast<BYTE*>(data), &size),
      ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(std::wstring(data), L"Null");
  RegCloseKey(user);
}

TEST_F(Win32RegistryTest, LookupFallsBackToThePerUserStore) {
  // The lookup always asks for the Velmora key; only its per-user half is checked here.
  Win32SettingsStore store;
  ASSERT_TRUE(store.Write("Velmora", "Info", "VelmoraBackendTestValue", "from the user"));
  InstallerSettings settings(registry, store);
  EXPECT_EQ(settings.ReadInstallerSetting("VelmoraBackendTestValue"), "from the user");
  RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Velmora\\Info",
                     L"VelmoraBackendTestValue");
}

TEST(Win32PlatformTest, CriticalErrorsAreAnsweredNotShown) {
  SetErrorMode(0);
  PlatformServices services = MakePlatformServices();
  const UINT mode = SetErrorMode(0);
  EXPECT_NE(mode & SEM_FAILCRITICALERRORS, 0u);
  EXPECT_NE(mode & SEM_NOOPENFILEERRORBOX, 0u);
}

TEST(Win32VersionTest, FlagsFollowTheReleaseWineReports) {
  struct Row {
    const char* wineVersion;
    uint8_t vista;
    uint8_t win7OrLater;
  };
  const Row rows[] = {{"winxp", 0, 0}, {"vista", 1, 0}, {"win7", 0, 1}, {"win10", 0, 1}};
  const std::string reported = testing::ReportedWineVersion();
  const Row* row = nullptr;
  for (const Row& candidate : rows) {
    if (reported == candidate.wineVersion) row = &candidate;
  }
  ASSERT_NE(row, nullptr) << "the test runner sets VELMORA_WINE_VERSION, not '" << reported << "'";
  PlatformServices services = MakePlatformServices();
  WindowsVersion version(*services.versionSource);
  version.DetectWindowsVersion();
  EXPECT_EQ(version.flags().OsIsVista, row->vista) << reported;
  EXPECT_EQ(version.flags().OsIsWin7OrLater, row->win7OrLater) << reported;
  EXPECT_EQ(services.pathSeparator, '\\');
}

}  // namespace
}  // namespace velmora
