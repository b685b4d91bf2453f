#include "copy/path_rules.h"

#include <algorithm>

#include "platform/unicode_text.h"

namespace velmora::path_rules {
namespace {

constexpr size_t kKeptCharacters = 100;

// Windows takes a forward slash for a backslash: a value that mixes them names the same folders.
bool IsSeparator(char c, char separator) {
  return c == separator || (separator == '\\' && c == '/');
}

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

// Characters `start` (1-based) on, at most `count` of them; empty past the end.
std::u16string Mid(const std::u16string& text, size_t start, size_t count) {
  if (start - 1 >= text.size()) return {};
  return text.substr(start - 1, count);
}

}  // namespace

std::string WithoutTrailingSeparator(std::string_view path, char separator) {
  if (!path.empty() && IsSeparator(path.back(), separator)) path.remove_suffix(1);
  return std::string(path);
}

std::string CutAfterLastSeparator(std::string_view path, char separator) {
  const auto last = std::find_if(path.rbegin(), path.rend(),
                                 [separator](char c) { return IsSeparator(c, separator); });
  return std::string(path.substr(0, static_cast<size_t>(path.rend() - last)));
}

std::string LeftCharacters(std::string_view text, size_t count) {
  return Utf16ToUtf8(Utf8ToUtf16(text).substr(0, count));
}

std::string RelocateOutOfProgramFiles(std::string_view installRoot,
                                      std::string_view destinationDrive, char separator) {
  const std::u16string root = Utf8ToUtf16(installRoot);
  size_t remainderStart = 0;
  if (Lower(Mid(root, 4, 19)) == u"program files (x86)") {
    remainderStart = 24;
  } else if (Lower(Mid(root, 4, 13)) == u"program files") {
    remainderStart = 18;
  } else {
    return std::string(installRoot);
  }
  const std::string sep(1, separator);
  return std::string(destinationDrive) + sep + "Tarnwell" + sep +
         Utf16ToUtf8(Mid(root, remainderStart, kKeptCharacters));
}

std::string FullWidthUpperFirstCharacter(std::string_view text) {
  const std::u16string wide = Utf8ToUtf16(text);
  if (wide.empty()) return {};
  char16_t first = wide.front();
  if (first >= u'a' && first <= u'z') first = static_cast<char16_t>(first - u'a' + u'A');
  if (first == u' ') {
    first = u'\u3000';
  } else if (first >= u'!' && first <= u'~') {
    first = static_cast<char16_t>(first + 0xFEE0);
  }
  // A first character outside the basic plane is kept whole.
  const bool surrogatePair = first >= 0xD800 && first <= 0xDBFF && wide.size() > 1;
  return Utf16ToUtf8(surrogatePair ? wide.substr(0, 2) : std::u16string(1, first));
}

bool IsUsablePath(std::string_view path, char separator) {
  if (separator != '\\') return path.find('\0') == std::string_view::npos;
  // "\\?\" and "\\.\" lead into the namespaces of long paths and devices; what follows is a path
  // of its own, with a drive colon at its own second character ("\\?\C:\...").
  if (path.size() >= 4 && path[0] == '\\' && path[1] == '\\' &&
      (path[2] == '?' || path[2] == '.') && path[3] == '\\') {
    path.remove_prefix(4);
  }
  for (size_t i = 0; i < path.size(); ++i) {
    const auto c = static_cast<unsigned char>(path[i]);
    // A forward slash is a separator to Windows; these are not in any name.
    if (c < 0x20 ||
        std::string_view("<>\"|?*").find(static_cast<char>(c)) != std::string_view::npos) {
      return false;
    }
    if (c == ':' && i != 1) return false;
  }
  return true;
}

}  // namespace velmora::path_rules
