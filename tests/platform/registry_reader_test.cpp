#include "platform/registry_reader.h"

#include <gtest/gtest.h>

#include "platform/registry_text.h"
#include "tests/fakes/fake_registry.h"

namespace velmora {
namespace {

using testing::FakeRegistry;

constexpr const char* kKey = "Software\\Velmora\\Info";

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes += static_cast<char>(v);
  return bytes;
}

struct TextRow {
  const char* name;
  uint32_t type;
  std::string bytes;
  std::string expected;
};

TEST(RegistryTextTest, EachTypeHasItsTextForm) {
  const TextRow rows[] = {
      {"string without its terminator", kRegSz, std::string("C:\\Velmora\\") + '\0',
       "C:\\Velmora\\"},
      {"empty string", kRegSz, std::string(1, '\0'), ""},
      {"no bytes at all", kRegSz, "", ""},
      {"string stored without terminator loses its last byte", kRegSz, "abc", "ab"},
      {"expand string unexpanded", kRegExpandSz, std::string("%ProgramFiles%\\V") + '\0',
       "%ProgramFiles%\\V"},
      {"dword 1", kRegDword, Bytes({1, 0, 0, 0}), "00000001"},
      {"dword 300", kRegDword, Bytes({0x2C, 0x01, 0, 0}), "0000012C"},
      {"dword 10", kRegDword, Bytes({10, 0, 0, 0}), "0000000A"},
      {"binary", kRegBinary, Bytes({0x01, 0x0A, 0xFF}), "01 0A FF "},
      {"zero-length binary", kRegBinary, "", ""},
      {"type 0", kRegNone, Bytes({0xAB}), "AB "},
      {"big-endian dword as bytes", 5, Bytes({0, 0, 0, 1}), "00 00 00 01 "},
      {"type above 7", 11, Bytes({1, 2}), "01 02 "},
      {"multi string", kRegMultiSz, Bytes({'a', 0, 'b', 'c', 0, 0}), "a\r\nbc\r\n"},
      {"empty multi string", kRegMultiSz, Bytes({0}), ""},
      {"Japanese string", kRegSz, std::string("解説回路") + '\0', "解説回路"},
  };
  const NarrowDecoder identity = [](std::string_view s) { return std::string(s); };
  for (const TextRow& row : rows) {
    EXPECT_EQ(RegistryValueToText(row.type, row.bytes, identity), row.expected) << row.name;
  }
}

TEST(RegistryTextTest, StringTypesGoThroughTheNarrowDecoder) {
  const NarrowDecoder bracket = [](std::string_view s) { return "[" + std::string(s) + "]"; };
  EXPECT_EQ(RegistryValueToText(kRegSz, std::string("x") + '\0', bracket), "[x]");
  EXPECT_EQ(RegistryValueToText(kRegMultiSz, Bytes({'x', 0, 'y', 0, 0}), bracket),
            "[x]\r\n[y]\r\n");
  EXPECT_EQ(RegistryValueToText(kRegBinary, "x", bracket), "78 ");
}

class RegistryReaderTest : public ::testing::Test {
 protected:
  std::string Read(const std::string& valueName) {
    reader.RegKeyPath = "Velmora\\Info";
    reader.RegValueName = valueName;
    reader.ReadRegistryValue();
    return reader.RegValueData;
  }

  FakeRegistry registry;
  RegistryReader reader{registry};
};

TEST_F(RegistryReaderTest, AStringOf255CharactersIsReadWholeAnd256GiveGetErr) {
  registry.SetString(kKey, "Fits", std::string(255, 'x'));
  registry.SetString(kKey, "TooLong", std::string(256, 'x'));
  EXPECT_EQ(Read("Fits"), std::string(255, 'x'));
  EXPECT_EQ(Read("TooLong"), "GetErr");
}

TEST_F(RegistryReaderTest, OpensBelowSoftwareAndLeavesTheRequestAlone) {
  registry.SetString(kKey, "SetupDir", "E:\\");
  EXPECT_EQ(Read("SetupDir"), "E:\\");  // a trailing backslash is kept
  ASSERT_EQ(registry.openedPaths.size(), 1u);
  EXPECT_EQ(registry.openedPaths[0], kKey);
  EXPECT_EQ(reader.RegKeyPath, "Velmora\\Info");
  EXPECT_EQ(reader.RegValueName, "SetupDir");
  EXPECT_EQ(registry.closeCount, 1);
}

TEST_F(RegistryReaderTest, FailuresGiveGetErrAndCloseWhatWasOpened) {
  registry.AddKey(kKey);
  EXPECT_EQ(Read("Missing"), "GetErr");
  EXPECT_EQ(registry.closeCount, 1);
  EXPECT_EQ(registry.openKeyCount(), 0u);

  registry.FailOpenWith(kRegAccessDenied);
  reader.RegValueData = "stale";
  EXPECT_EQ(Read("Missing"), "GetErr");
  EXPECT_EQ(registry.closeCount, 1);  // nothing opened, nothing closed
}

TEST_F(RegistryReaderTest, AMissingKeyGivesGetErr) {
  EXPECT_EQ(Read("SetupDir"), "GetErr");
  EXPECT_EQ(registry.closeCount, 0);
}

TEST_F(RegistryReaderTest, EachCallStartsFromAZeroFilledBuffer) {
  // A short value read after a long one shows nothing of the long one: every query, the second
  // included, is handed a buffer of 256 zeros.
  registry.SetValue(kKey, "Long", kRegBinary, std::string(200, '\x7F'));
  registry.SetValue(kKey, "Short", kRegMultiSz, Bytes({'a', 0}));
  Read("Long");
  EXPECT_EQ(Read("Short"), "a\r\n");
  EXPECT_EQ(registry.buffersZeroFilled, (std::vector<bool>{true, true}));
}

TEST_F(RegistryReaderTest, ValueNamesCompareWithoutCase) {
  registry.SetString(kKey, "SetupDir", "E:\\");
  const std::pair<const char*, const char*> rows[] = {
      {"SetupDir", "E:\\"}, {"SETUPDIR", "E:\\"}, {"setupdir", "E:\\"}, {"SetupDi", "GetErr"}};
  for (const auto& [name, expected] : rows) EXPECT_EQ(Read(name), expected) << name;
}

}  // namespace
}  // namespace velmora
