#include <gtest/gtest.h>

#include "platform/reg_file.h"

namespace velmora {
namespace {

constexpr const char* kKey = "SOFTWARE\\Velmora\\Info";

std::string Utf16Le(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

RegFile ParseOk(const std::string& text) {
  std::vector<RegFileDiagnostic> diagnostics;
  RegFile file = RegFile::Parse(text, diagnostics);
  EXPECT_TRUE(diagnostics.empty()) << diagnostics.front().line << ": " << diagnostics.front().message;
  return file;
}

void ExpectValue(const RegFile& file, const char* name, uint32_t type, const std::string& bytes) {
  const RegFileValue* value = file.FindValue(kKey, name);
  ASSERT_NE(value, nullptr) << name;
  EXPECT_EQ(value->type, type) << name;
  EXPECT_EQ(value->bytes, bytes) << name;
}

TEST(RegFileTest, EachValueForm) {
  const RegFile file = ParseOk(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\r\n"
      "\"SetupDir\"=\"E:\\\\\"\r\n"
      "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
      "@=\"default\"\r\n"
      "\"Number\"=dword:0000012c\r\n"
      "\"Binary\"=hex:01,0a,FF\r\n"
      "\"NoBytes\"=hex:\r\n"
      "\"Expand\"=hex(2):25,00,50,00,25,00,00,00\r\n"
      "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      "\"Odd\"=hex(b):01,02\r\n"
      "\"Japanese\"=\"解説回路\"\r\n");
  ExpectValue(file, "SetupDir", 1, std::string("E:\\") + '\0');
  ExpectValue(file, "Quoted", 1, std::string("say \"hi\"") + '\0');
  ExpectValue(file, "", 1, std::string("default") + '\0');
  ExpectValue(file, "Number", 4, std::string("\x2C\x01\x00\x00", 4));
  ExpectValue(file, "Binary", 3, "\x01\x0A\xFF");
  ExpectValue(file, "NoBytes", 3, "");
  ExpectValue(file, "Expand", 2, std::string("%P%") + '\0');
  ExpectValue(file, "List", 7, std::string("a\0b\0\0", 5));
  ExpectValue(file, "Odd", 11, "\x01\x02");
  ExpectValue(file, "Japanese", 1, std::string("解説回路") + '\0');
}

TEST(RegFileTest, Utf16LeExportWithByteOrderMark) {
  const RegFile file = ParseOk(Utf16Le(
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\r\n"
      u"\"SetupMk\"=\"基本\"\r\n"));
  ExpectValue(file, "SetupMk", 1, std::string("基本") + '\0');
}

TEST(RegFileTest, Utf8WithByteOrderMarkAndRegedit4NarrowHexStrings) {
  const RegFile file = ParseOk(
      "\xEF\xBB\xBFREGEDIT4\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
      "\"Expand\"=hex(2):25,50,25,00\n");
  ExpectValue(file, "Expand", 2, std::string("%P%") + '\0');
}

TEST(RegFileTest, ContinuedHexLines) {
  const RegFile file = ParseOk(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
      "\"Binary\"=hex:01,02,\\\n"
      "  03,04,\\\n"
      "  05\n"
      "\"After\"=\"x\"\n");
  ExpectValue(file, "Binary", 3, "\x01\x02\x03\x04\x05");
  ExpectValue(file, "After", 1, std::string("x") + '\0');
}

TEST(RegFileTest, NamesCompareWithoutCaseAndKeysAboveExist) {
  const RegFile file = ParseOk(
      "Windows Registry Editor Version 5.00\n"
      "[hkey_local_machine\\software\\VELMORA\\info]\n"
      "\"setupdir\"=\"E:\\\\\"\n"
      "[HKEY_CURRENT_USER\\Software\\Velmora\\Info]\n"
      "\"SystemDir\"=\"not the machine's\"\n");
  ASSERT_NE(file.FindValue("Software\\Velmora\\Info", "SETUPDIR"), nullptr);
  EXPECT_TRUE(file.HasKey("Software\\Velmora"));
  EXPECT_TRUE(file.HasKey("SOFTWARE"));
  EXPECT_FALSE(file.HasKey("Software\\Velm"));
  EXPECT_FALSE(file.HasKey("Software\\Velmora\\Info\\Deeper"));
  EXPECT_FALSE(file.HasKey("Software\\\\Velmora"));
  EXPECT_EQ(file.FindValue("Software\\Velmora\\Info", "SystemDir"), nullptr);
}

TEST(RegFileTest, DeletionsRemoveValuesAndKeyTrees) {
  const RegFile file = ParseOk(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
      "\"Gone\"=\"x\"\n"
      "\"Kept\"=\"y\"\n"
      "\"Gone\"=-\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\\Sub]\n"
      "\"A\"=\"1\"\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n");
  EXPECT_EQ(file.FindValue(kKey, "Gone"), nullptr);
  EXPECT_NE(file.FindValue(kKey, "Kept"), nullptr);
  EXPECT_FALSE(file.HasKey("SOFTWARE\\Other"));
}

struct MalformedRow {
  const char* name;
  std::string text;
  int diagnosticLine;
  bool keepsGoodValue;  // the value "Good" of kKey is still read
};

TEST(RegFileTest, MalformedAndTruncatedFilesAreReportedNotFatal) {
  const std::string head =
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
      "\"Good\"=\"1\"\n";
  const MalformedRow rows[] = {
      {"no header", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n\"Good\"=\"1\"\n", 1, false},
      {"empty file", "", 0, false},
      {"binary garbage", std::string("\x00\x01\x02garbage", 10), 1, false},
      {"unterminated string", head + "\"Bad\"=\"abc\n", 4, true},
      {"bad escape", head + "\"Bad\"=\"a\\qb\"\n", 4, true},
      {"bad hex byte", head + "\"Bad\"=hex:01,zz\n", 4, true},
      {"dword too long", head + "\"Bad\"=dword:123456789\n", 4, true},
      {"no equals", head + "\"Bad\" \"x\"\n", 4, true},
      {"unknown data", head + "\"Bad\"=qword:1\n", 4, true},
      {"stray text", head + "hello\n", 4, true},
      {"open key line", head + "[HKEY_LOCAL_MACHINE\\SOFTWARE\n", 4, true},
      {"truncated continuation", head + "\"Bad\"=hex:01,\\\n", 4, true},
      {"value before any key",
       "Windows Registry Editor Version 5.00\n\"Bad\"=\"x\"\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n\"Good\"=\"1\"\n",
       2, true},
  };
  for (const MalformedRow& row : rows) {
    std::vector<RegFileDiagnostic> diagnostics;
    const RegFile file = RegFile::Parse(row.text, diagnostics);
    ASSERT_EQ(diagnostics.size(), 1u) << row.name;
    EXPECT_EQ(diagnostics[0].line, row.diagnosticLine) << row.name;
    EXPECT_EQ(file.FindValue(kKey, "Good") != nullptr, row.keepsGoodValue) << row.name;
    EXPECT_EQ(file.FindValue(kKey, "Bad"), nullptr) << row.name;
  }
}

}  // namespace
}  // namespace velmora
