#include "copy/path_rules.h"

#include <gtest/gtest.h>

#include "platform/windows_paths.h"

namespace velmora::path_rules {
namespace {

// InstallRoot from SystemDir as a run forms it: cut, relocated when asked, trailing backslash off.
std::string InstallRootFor(const std::string& systemDir, bool vistaOrLater) {
  std::string root = CutAfterLastSeparator(systemDir, '\\');
  const std::string drive = LeftCharacters(root, 2);
  if (vistaOrLater) root = RelocateOutOfProgramFiles(root, drive, '\\');
  return WithoutTrailingSeparator(root, '\\');
}

struct RootRow {
  const char* systemDir;
  const char* withoutRelocation;
  const char* withRelocation;
};

TEST(PathRulesTest, WorkedResults) {
  const RootRow rows[] = {
      {"C:\\Program Files\\Velmora\\System", "C:\\Program Files\\Velmora", "C:\\Tarnwell\\Velmora"},
      {"C:\\Program Files (x86)\\Velmora\\System", "C:\\Program Files (x86)\\Velmora",
       "C:\\Tarnwell\\Velmora"},
      {"c:\\PROGRAM FILES\\Velmora\\System", "c:\\PROGRAM FILES\\Velmora", "c:\\Tarnwell\\Velmora"},
      {"D:\\Apps\\Velmora\\System", "D:\\Apps\\Velmora", "D:\\Apps\\Velmora"},
      // Only the character positions are tested: no backslash after the matched text is needed.
      {"C:\\Program FilesX\\App\\System", "C:\\Program FilesX\\App", "C:\\Tarnwell\\\\App"},
      {"C:\\X\\System\\", "C:\\X\\System", "C:\\X\\System"},
      {"E:\\Program Files\\ベルモラ\\System", "E:\\Program Files\\ベルモラ",
       "E:\\Tarnwell\\ベルモラ"},
      {"C:\\Program Files\\System", "C:\\Program Files", "C:\\Tarnwell"},
  };
  for (const RootRow& row : rows) {
    EXPECT_EQ(InstallRootFor(row.systemDir, false), row.withoutRelocation) << row.systemDir;
    EXPECT_EQ(InstallRootFor(row.systemDir, true), row.withRelocation) << row.systemDir;
  }
}

TEST(PathRulesTest, RelocationKeepsAtMost100Characters) {
  const std::string remainder99 = std::string(99, 'a');
  // 99 characters and a backslash fit: the trailing backslash is then removed.
  EXPECT_EQ(InstallRootFor("C:\\Program Files\\" + remainder99 + "\\System", true),
            "C:\\Tarnwell\\" + remainder99);
  // A longer remainder is cut at 100 characters; what follows the cut is lost.
  const std::string long120 = std::string(100, 'b') + "\\cccccccccccccccccc";
  EXPECT_EQ(InstallRootFor("C:\\Program Files\\" + long120 + "\\System", true),
            "C:\\Tarnwell\\" + std::string(100, 'b'));
  // Counted in characters, not bytes.
  std::string wide;
  for (int i = 0; i < 101; ++i) wide += "ア";
  EXPECT_EQ(RelocateOutOfProgramFiles("C:\\Program Files\\" + wide, "C:", '\\'),
            "C:\\Tarnwell\\" + wide.substr(0, wide.size() - 3));
}

TEST(PathRulesTest, TextHelpers) {
  EXPECT_EQ(WithoutTrailingSeparator("E:\\", '\\'), "E:");
  EXPECT_EQ(WithoutTrailingSeparator("E:\\\\", '\\'), "E:\\");  // one only
  EXPECT_EQ(WithoutTrailingSeparator("", '\\'), "");
  EXPECT_EQ(WithoutTrailingSeparator("/media/cd/", '/'), "/media/cd");
  EXPECT_EQ(CutAfterLastSeparator("System", '\\'), "");
  EXPECT_EQ(CutAfterLastSeparator("/opt/velmora/System", '/'), "/opt/velmora/");
  // A forward slash is a separator to Windows too: a value that mixes them is cut at the last.
  EXPECT_EQ(CutAfterLastSeparator("C:\\Program Files/Velmora/System", '\\'),
            "C:\\Program Files/Velmora/");
  EXPECT_EQ(CutAfterLastSeparator("C:/Dest/System", '\\'), "C:/Dest/");
  EXPECT_EQ(CutAfterLastSeparator("a\\b/c", '/'), "a\\b/");  // elsewhere a backslash is a name's
  EXPECT_EQ(WithoutTrailingSeparator("R:/", '\\'), "R:");
  EXPECT_EQ(WithoutTrailingSeparator("/media/cd\\", '/'), "/media/cd\\");
  EXPECT_EQ(LeftCharacters("C", 2), "C");
  EXPECT_EQ(LeftCharacters("", 2), "");
  EXPECT_EQ(LeftCharacters("解説回路", 2), "解説");
}

TEST(PathRulesTest, UsablePathsOnWindowsAreThoseWindowsCanHold) {
  const std::pair<std::string, bool> rows[] = {
      {"C:\\Program Files (x86)\\解説", true},
      {"", true},
      {"C:/Program Files/Velmora", true},  // forward slashes are separators
      {"C:\\Velmora/System", true},
      {"\\\\server\\share\\Velmora", true},         // UNC
      {"\\\\?\\C:\\Program Files\\Velmora", true},  // long-path namespace
      {"\\\\?\\UNC\\server\\share\\Velmora", true},
      {"\\\\.\\C:\\Velmora", true},  // device namespace
      {"\\\\.\\CdRom0\\", true},
      {"C:\\a:b", false},  // a colon past the drive
      {"\\\\?\\C:\\a:b", false},
      {"\\\\??\\C:\\x", false},
      {"C:\\a?b", false},
      {"C:\\a*b", false},
      {"C:\\a|b", false},
      {"C:\\a<b>", false},
      {"C:\\a\"b", false},
      {"C:\\a\tb", false},
      {std::string("C:\\a\0b", 6), false},
  };
  for (const auto& [path, usable] : rows) EXPECT_EQ(IsUsablePath(path, '\\'), usable) << path;
  // Elsewhere only a NUL cuts a path short.
  EXPECT_TRUE(IsUsablePath("/opt/a|b*c:d", '/'));
  EXPECT_FALSE(IsUsablePath(std::string("/opt/a\0b", 8), '/'));
}

TEST(PathRulesTest, FullWidthUpperFirstCharacter) {
  const std::pair<const char*, const char*> rows[] = {
      {"E:", "Ｅ"}, {"e:", "Ｅ"},     {"a", "Ａ"}, {"z:\\", "Ｚ"}, {"\\\\server", "＼"},
      {"1", "１"},  {"/media", "／"}, {"", ""},    {"解説", "解"}, {" x", "\u3000"},
  };
  for (const auto& [text, expected] : rows) {
    EXPECT_EQ(FullWidthUpperFirstCharacter(text), expected) << text;
  }
}

}  // namespace
}  // namespace velmora::path_rules

namespace velmora {
namespace {

TEST(ExtendedLengthFormTest, AbsolutePathsTakeTheLongFormCanonically) {
  struct Row {
    const char* path;
    const char* form;
  };
  const Row rows[] = {
      {"C:\\Tarnwell\\Velmora", "\\\\?\\C:\\Tarnwell\\Velmora"},
      {"c:/a//b/./c/../d\\", "\\\\?\\c:\\a\\b\\d\\"},
      {"C:\\", "\\\\?\\C:\\"},
      {"C:\\..\\..\\x", "\\\\?\\C:\\x"},  // never above the drive
      {"\\\\server\\share\\a\\..\\..\\..\\x", "\\\\?\\UNC\\server\\share\\x"},  // nor the share
      {"//server/share/video", "\\\\?\\UNC\\server\\share\\video"},
      // Already in a namespace of its own, or not absolute: as it is.
      {"\\\\?\\C:\\x\\..\\y", "\\\\?\\C:\\x\\..\\y"},
      {"\\\\.\\COM1", "\\\\.\\COM1"},
      {"Velmora\\System", "Velmora\\System"},
      {"\\Velmora", "\\Velmora"},
      {"C:relative", "C:relative"},
  };
  for (const Row& row : rows) EXPECT_EQ(ExtendedLengthForm(row.path), row.form) << row.path;
}

}  // namespace
}  // namespace velmora
