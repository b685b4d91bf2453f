#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Conversions at the edge of the Win32 calls: UTF-8 inside, UTF-16 or the ANSI code page outside.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);

}  // namespace velmora
