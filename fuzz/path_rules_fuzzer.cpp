// Installer values of any content through the rules that turn them into paths.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "copy/path_rules.h"
#include "platform/unicode_text.h"
#include "platform/windows_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace rules = velmora::path_rules;
  const std::string value(reinterpret_cast<const char*>(data), size);
  for (const char separator : {'\\', '/'}) {
    const std::string root = rules::CutAfterLastSeparator(value, separator);
    const std::string drive = rules::LeftCharacters(root, 2);
    const std::string moved = rules::RelocateOutOfProgramFiles(root, drive, separator);
    rules::WithoutTrailingSeparator(moved, separator);
    rules::WithoutTrailingSeparator(value, separator);
    rules::FullWidthUpperFirstCharacter(value);
    rules::IsUsablePath(moved, separator);
    // Moving keeps at most the drive, the maker folder and 100 characters.
    if (moved != root && velmora::Utf8ToUtf16(moved).size() > 2 + 10 + 100) __builtin_trap();
  }
  // The long-path form is canonical, as Windows takes it unchecked: one prefix, backslashes only,
  // no empty, "." or ".." component; and making it again changes nothing.
  const std::string extended = velmora::ExtendedLengthForm(value);
  if (extended != value) {
    if (extended.rfind("\\\\?\\", 0) != 0 || extended.find('/') != std::string::npos)
      __builtin_trap();
    const std::string rest = extended.substr(4, extended.size() - 5);  // without the last char
    if (rest.find("\\\\") != std::string::npos || rest.find("\\.\\") != std::string::npos ||
        rest.find("\\..\\") != std::string::npos) {
      __builtin_trap();
    }
    if (velmora::ExtendedLengthForm(extended) != extended) __builtin_trap();
  }
  // Text that went through UTF-16 once comes back unchanged the second time.
  const std::string once = velmora::Utf16ToUtf8(velmora::Utf8ToUtf16(value));
  if (velmora::Utf16ToUtf8(velmora::Utf8ToUtf16(once)) != once) __builtin_trap();
  velmora::Utf16LeBytesToUtf8(value);
  return 0;
}
