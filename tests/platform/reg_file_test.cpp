#include "platform/reg_file.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace velmora {
namespace {

constexpr const char* kKey = "SOFTWARE\\Velmora\\Info";
constexpr size_t kChunkSizes[] = {1, 2, 3, 7, 4096};

std::string Utf16Le(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

// Feeds `text` to the streaming parse `chunk` bytes at a time.
RegFileKey ParseKeyInChunks(const std::string& text, size_t chunk, std::string_view keyPath,
                            std::vector<RegFileDiagnostic>& diagnostics) {
  size_t offset = 0;
  const RegFileByteSource source = [&](char* buffer, size_t capacity) {
    const size_t count = std::min({chunk, capacity, text.size() - offset});
    text.copy(buffer, count, offset);
    offset += count;
    return count;
  };
  return RegFile::ParseKey(source, keyPath,
                           [&](const RegFileDiagnostic& d) { diagnostics.push_back(d); });
}

RegFile ParseOk(const std::string& text) {
  std::vector<RegFileDiagnostic> diagnostics;
  RegFile file = RegFile::Parse(text, diagnostics);
  EXPECT_TRUE(diagnostics.empty())
      << diagnostics.front().line << ": " << diagnostics.front().message;
  return file;
}

void ExpectValue(const RegFile& file, const char* name, uint32_t type, const std::string& bytes) {
  const RegFileValue* value = file.FindValue(kKey, name);
  ASSERT_NE(value, nullptr) << name;
  EXPECT_EQ(value->type, type) << name;
  EXPECT_EQ(value->bytes, bytes) << name;
}

const std::string kEachValueForm =
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
    "\"Japanese\"=\"解説回路\"\r\n";

const std::string kUtf16Export = Utf16Le(
    u"Windows Registry Editor Version 5.00\r\n\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\r\n"
    u"\"SetupMk\"=\"基本\"\r\n");

// Characters outside the basic plane (surrogate pairs), CR LF, and a value continued over lines.
const std::string kUtf16PairsExport = Utf16Le(
    u"Windows Registry Editor Version 5.00\r\n\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\r\n"
    u"\"SetupDir\"=\"/media/\U00020BB7\U0001F4BF/\"\r\n"
    u"\"\U0001F4BF\"=hex(2):3d,d8,bf,dc,\\\r\n  00,00\r\n"
    u"\"Last\"=\"x\"");

const std::string kRegedit4 =
    "\xEF\xBB\xBFREGEDIT4\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
    "\"Expand\"=hex(2):25,50,25,00\n";

const std::string kContinued =
    "Windows Registry Editor Version 5.00\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
    "\"Binary\"=hex:01,02,\\\n"
    "  03,04,\\\n"
    "  05\n"
    "\"After\"=\"x\"\n";

const std::string kNamesAndRoots =
    "Windows Registry Editor Version 5.00\n"
    "[hkey_local_machine\\software\\VELMORA\\info]\n"
    "\"setupdir\"=\"E:\\\\\"\n"
    "[HKEY_CURRENT_USER\\Software\\Velmora\\Info]\n"
    "\"SystemDir\"=\"not the machine's\"\n";

const std::string kDeletions =
    "Windows Registry Editor Version 5.00\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
    "\"Gone\"=\"x\"\n"
    "\"Kept\"=\"y\"\n"
    "\"Gone\"=-\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\\Sub]\n"
    "\"A\"=\"1\"\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n";

TEST(RegFileTest, EachValueForm) {
  const RegFile file = ParseOk(kEachValueForm);
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
  const RegFile file = ParseOk(kUtf16Export);
  ExpectValue(file, "SetupMk", 1, std::string("基本") + '\0');
}

TEST(RegFileTest, Utf8WithByteOrderMarkAndRegedit4NarrowHexStrings) {
  const RegFile file = ParseOk(kRegedit4);
  ExpectValue(file, "Expand", 2, std::string("%P%") + '\0');
}

TEST(RegFileTest, ContinuedHexLines) {
  const RegFile file = ParseOk(kContinued);
  ExpectValue(file, "Binary", 3, "\x01\x02\x03\x04\x05");
  ExpectValue(file, "After", 1, std::string("x") + '\0');
}

TEST(RegFileTest, NamesCompareWithoutCaseAndKeysAboveExist) {
  const RegFile file = ParseOk(kNamesAndRoots);
  ASSERT_NE(file.FindValue("Software\\Velmora\\Info", "SETUPDIR"), nullptr);
  EXPECT_TRUE(file.HasKey("Software\\Velmora"));
  EXPECT_TRUE(file.HasKey("SOFTWARE"));
  EXPECT_FALSE(file.HasKey("Software\\Velm"));
  EXPECT_FALSE(file.HasKey("Software\\Velmora\\Info\\Deeper"));
  EXPECT_FALSE(file.HasKey("Software\\\\Velmora"));
  EXPECT_EQ(file.FindValue("Software\\Velmora\\Info", "SystemDir"), nullptr);
}

TEST(RegFileTest, DeletionsRemoveValuesAndKeyTrees) {
  const RegFile file = ParseOk(kDeletions);
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

const std::string kGoodHead =
    "Windows Registry Editor Version 5.00\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n"
    "\"Good\"=\"1\"\n";

const MalformedRow kMalformedRows[] = {
    {"no header", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n\"Good\"=\"1\"\n", 1, false},
    {"empty file", "", 0, false},
    {"binary garbage", std::string("\x00\x01\x02garbage", 10), 1, false},
    {"unterminated string", kGoodHead + "\"Bad\"=\"abc\n", 4, true},
    {"bad escape", kGoodHead + "\"Bad\"=\"a\\qb\"\n", 4, true},
    {"bad hex byte", kGoodHead + "\"Bad\"=hex:01,zz\n", 4, true},
    {"dword too long", kGoodHead + "\"Bad\"=dword:123456789\n", 4, true},
    {"no equals", kGoodHead + "\"Bad\" \"x\"\n", 4, true},
    {"unknown data", kGoodHead + "\"Bad\"=qword:1\n", 4, true},
    {"stray text", kGoodHead + "hello\n", 4, true},
    {"open key line", kGoodHead + "[HKEY_LOCAL_MACHINE\\SOFTWARE\n", 4, true},
    {"truncated continuation", kGoodHead + "\"Bad\"=hex:01,\\\n", 4, true},
    {"value before any key",
     "Windows Registry Editor Version 5.00\n\"Bad\"=\"x\"\n"
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n\"Good\"=\"1\"\n",
     2, true},
    {"UTF-16 header cut in the middle of a code unit", std::string("\xFF\xFEW", 3), 1, false},
    {"blank lines only", " \r\n\t\n\r", 0, false},
};

TEST(RegFileTest, MalformedAndTruncatedFilesAreReportedNotFatal) {
  for (const MalformedRow& row : kMalformedRows) {
    std::vector<RegFileDiagnostic> diagnostics;
    const RegFile file = RegFile::Parse(row.text, diagnostics);
    ASSERT_EQ(diagnostics.size(), 1u) << row.name;
    EXPECT_EQ(diagnostics[0].line, row.diagnosticLine) << row.name;
    EXPECT_EQ(file.FindValue(kKey, "Good") != nullptr, row.keepsGoodValue) << row.name;
    EXPECT_EQ(file.FindValue(kKey, "Bad"), nullptr) << row.name;
  }
}

// The streaming parse, whatever the size of the pieces the file comes in, answers for each key
// exactly as the whole file in memory does, with the same diagnostics.
TEST(RegFileTest, PiecesOfAnySizeGiveTheAnswersOfTheWholeFile) {
  std::vector<std::pair<std::string, std::string>> inputs = {
      {"each value form", kEachValueForm},
      {"UTF-16", kUtf16Export},
      {"UTF-16 pairs", kUtf16PairsExport},
      {"UTF-16 with an odd last byte", kUtf16PairsExport + "\x41"},
      {"UTF-16 ending in half a pair", kUtf16PairsExport + "\x3D\xD8"},
      {"REGEDIT4", kRegedit4},
      {"continued", kContinued},
      {"names and roots", kNamesAndRoots},
      {"deletions", kDeletions},
      {"CR LF split",
       "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\A]\r\r\n\"v\"=\"1\""},
  };
  for (const MalformedRow& row : kMalformedRows) inputs.emplace_back(row.name, row.text);
  const char* keys[] = {kKey, "software\\velmora",  "SOFTWARE", "", "SOFTWARE\\Other",
                        "A",  "Software\\\\Velmora"};
  for (const auto& [name, text] : inputs) {
    std::vector<RegFileDiagnostic> wholeDiagnostics;
    const RegFile whole = RegFile::Parse(text, wholeDiagnostics);
    for (size_t chunk : kChunkSizes) {
      for (const char* key : keys) {
        std::vector<RegFileDiagnostic> diagnostics;
        const RegFileKey streamed = ParseKeyInChunks(text, chunk, key, diagnostics);
        EXPECT_EQ(streamed, whole.Key(key)) << name << ", pieces of " << chunk << ", key " << key;
        EXPECT_EQ(diagnostics, wholeDiagnostics) << name << ", pieces of " << chunk;
      }
    }
  }
}

TEST(RegFileTest, SurrogatePairsAndCrLfSplitAcrossPieces) {
  for (size_t chunk : kChunkSizes) {
    std::vector<RegFileDiagnostic> diagnostics;
    const RegFileKey key = ParseKeyInChunks(kUtf16PairsExport, chunk, kKey, diagnostics);
    EXPECT_TRUE(diagnostics.empty()) << chunk;
    ASSERT_TRUE(key.exists) << chunk;
    const RegFileValue* setupDir = key.FindValue("SetupDir");
    ASSERT_NE(setupDir, nullptr) << chunk;
    EXPECT_EQ(setupDir->bytes, std::string("/media/\U00020BB7\U0001F4BF/") + '\0') << chunk;
    const RegFileValue* disc = key.FindValue("\U0001F4BF");
    ASSERT_NE(disc, nullptr) << chunk;
    EXPECT_EQ(disc->bytes, std::string("\U0001F4BF") + '\0') << chunk;
    ASSERT_NE(key.FindValue("Last"), nullptr) << chunk;
    EXPECT_EQ(key.values.size(), 3u) << chunk;
  }
}

struct OrderRow {
  const char* name;
  std::string body;  // after the header
  bool exists;
  const char* setupDir;  // nullptr: no such value
};

// Definitions and deletions take effect in file order, for the key's values and for whether
// the key (or a key below it) exists.
TEST(RegFileTest, LaterDefinitionsAndDeletionsWin) {
  const std::string info = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n";
  const OrderRow rows[] = {
      {"value deleted", info + "\"SetupDir\"=\"/a/\"\n\"SetupDir\"=-\n", true, nullptr},
      {"value defined twice", info + "\"SetupDir\"=\"/a/\"\n\"SETUPDIR\"=\"/b/\"\n", true, "/b/"},
      {"key deleted through its parent",
       info + "\"SetupDir\"=\"/a/\"\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora]\n", false, nullptr},
      {"everything deleted", info + "\"SetupDir\"=\"/a/\"\n[-HKEY_LOCAL_MACHINE]\n", false,
       nullptr},
      {"deleted then defined again",
       info + "\"SetupDir\"=\"/a/\"\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n" + info +
           "\"Other\"=\"x\"\n",
       true, nullptr},
      {"a value after the deletion line belongs to no key",
       info + "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n\"SetupDir\"=\"/a/\"\n", false,
       nullptr},
      {"a sibling deleted",
       info + "\"SetupDir\"=\"/a/\"\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Inf]\n", true, "/a/"},
      {"only a subkey", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info\\Sub]\n", true, nullptr},
      {"the only subkey deleted",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info\\Sub\\Deeper]\n"
       "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info\\Sub]\n",
       false, nullptr},
      {"another subkey left",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info\\Sub\\Deeper]\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info\\Sub!]\n"
       "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info\\Sub]\n",
       true, nullptr},
      {"a sibling sorting between a key and its subkeys",
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info\\Sub\\Deeper]\n"
       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info\\Sub!]\n"
       "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info\\Sub]\n"
       "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info\\Sub!]\n",
       false, nullptr},
      {"the key itself left",
       info + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info\\Sub]\n"
              "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info\\Sub]\n",
       true, nullptr},
      {"a name that only starts like it", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info2]\n", false,
       nullptr},
  };
  for (const OrderRow& row : rows) {
    const std::string text = "Windows Registry Editor Version 5.00\n" + row.body;
    std::vector<RegFileDiagnostic> diagnostics;
    const RegFile whole = RegFile::Parse(text, diagnostics);
    EXPECT_TRUE(diagnostics.empty()) << row.name;
    for (size_t chunk : {size_t{1}, size_t{4096}}) {
      const RegFileKey key = ParseKeyInChunks(text, chunk, kKey, diagnostics);
      EXPECT_TRUE(diagnostics.empty()) << row.name;
      EXPECT_EQ(key.exists, row.exists) << row.name;
      const RegFileValue* value = key.FindValue("SetupDir");
      if (row.setupDir == nullptr) {
        EXPECT_EQ(value, nullptr) << row.name;
      } else {
        ASSERT_NE(value, nullptr) << row.name;
        EXPECT_EQ(value->bytes, std::string(row.setupDir) + '\0') << row.name;
      }
      EXPECT_EQ(key, whole.Key(kKey)) << row.name;
    }
  }
}

struct LongLineRow {
  const char* name;
  std::string text;
  int64_t diagnosticLine;
};

// A line over the limit costs one diagnostic and is skipped with its continuation lines; what
// follows is read.
TEST(RegFileTest, OverlongLinesAreReportedAndSkipped) {
  const size_t limit = RegFile::kMaxLineBytes;
  const std::string head =
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Info]\n";
  const std::string tail = "\"Good\"=\"1\"\n";
  // Each line short, the whole just over the limit once joined.
  std::string continued = "\"Bad\"=hex:00,";
  const std::string line = "00,00,00,00,00,00,00,00,00,00,00,";
  for (size_t joined = continued.size(); joined <= limit; joined += line.size()) {
    continued += "\\\n  " + line;
  }
  continued += "00";
  const LongLineRow rows[] = {
      {"a string value", head + "\"Bad\"=\"" + std::string(limit, 'x') + "\"\n" + tail, 3},
      {"a stray line ending in a backslash",
       head + std::string(limit + 1, 'x') + "\\\n  00\n" + tail, 3},
      {"continued hex data", head + continued + "\n" + tail, 3},
      {"continued hex data split in the middle of a line",
       head + "\"Bad\"=hex:00,\\\n" + std::string(limit, '0') + ",\\\n 00\n" + tail, 3},
      {"after a continued value that fits",
       head + kContinued.substr(kContinued.find('"')) + "\"Bad\"=\"" + std::string(limit, 'x') +
           "\"\n" + tail,
       7},
  };
  for (const LongLineRow& row : rows) {
    for (size_t chunk : {size_t{7}, size_t{4096}}) {
      std::vector<RegFileDiagnostic> diagnostics;
      const RegFileKey key = ParseKeyInChunks(row.text, chunk, kKey, diagnostics);
      ASSERT_EQ(diagnostics.size(), 1u) << row.name << ", pieces of " << chunk;
      EXPECT_EQ(diagnostics[0].line, row.diagnosticLine) << row.name;
      EXPECT_NE(diagnostics[0].message.find("longer than"), std::string::npos) << row.name;
      EXPECT_NE(key.FindValue("Good"), nullptr) << row.name;
      EXPECT_EQ(key.FindValue("Bad"), nullptr) << row.name;
    }
  }

  // Blanks are no content, however many; a line just at the limit is read.
  std::vector<RegFileDiagnostic> diagnostics;
  const std::string atLimit = "\"Fits\"=\"" + std::string(limit - 9, 'x') + "\"";
  ASSERT_EQ(atLimit.size(), limit);
  const RegFileKey key = ParseKeyInChunks(
      head + std::string(limit + 1, ' ') + "\n" + atLimit + "\n" + tail, 4096, kKey, diagnostics);
  EXPECT_TRUE(diagnostics.empty());
  EXPECT_NE(key.FindValue("Fits"), nullptr);
}

// Content that is no export ends the reading at its first line, however long: an endless
// stream of zeros is not read to its end.
TEST(RegFileTest, AFileWithoutHeaderIsNotReadFurther) {
  size_t delivered = 0;
  const RegFileByteSource zeros = [&](char* buffer, size_t capacity) {
    if (delivered >= 64 * RegFile::kMaxLineBytes) return size_t{0};  // bounds a failing test
    std::fill_n(buffer, capacity, '\0');
    delivered += capacity;
    return capacity;
  };
  std::vector<RegFileDiagnostic> diagnostics;
  const RegFileKey key =
      RegFile::ParseKey(zeros, kKey, [&](const RegFileDiagnostic& d) { diagnostics.push_back(d); });
  EXPECT_FALSE(key.exists);
  ASSERT_EQ(diagnostics.size(), 1u);
  EXPECT_EQ(diagnostics[0].line, 1);
  EXPECT_LE(delivered, 2 * RegFile::kMaxLineBytes);

  // The same with an end to the line, and with blanks before its content.
  for (const std::string& first : {std::string(RegFile::kMaxLineBytes + 1, 'x'),
                                   std::string(RegFile::kMaxLineBytes, ' ') + "x"}) {
    const std::string text = "\n" + first + "\n" + kGoodHead;
    std::vector<RegFileDiagnostic> whole;
    RegFile::Parse(text, whole);
    std::vector<RegFileDiagnostic> streamed;
    EXPECT_FALSE(ParseKeyInChunks(text, 4096, kKey, streamed).exists);
    ASSERT_EQ(streamed.size(), 1u);
    EXPECT_EQ(streamed[0].line, 2);
    EXPECT_EQ(streamed, whole);
  }
}

}  // namespace
}  // namespace velmora
