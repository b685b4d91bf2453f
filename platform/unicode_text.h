#pragma once

#include <string>
#include <string_view>

// UTF-8 <-> UTF-16 conversion for the edges where text leaves or enters the core: registry
// export files (UTF-16LE), the wide Win32 calls, and character-position path rules.
// Malformed input never fails: each invalid sequence becomes U+FFFD.
namespace velmora {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Decodes little-endian UTF-16 bytes; a trailing odd byte becomes U+FFFD.
std::string Utf16LeBytesToUtf8(std::string_view bytes);

}  // namespace velmora
