#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velmora {

using NarrowDecoder = std::function<std::string(std::string_view)>;

// The text form of a registry value of `type` whose `bytes` the query delivered:
// REG_SZ / REG_EXPAND_SZ: the bytes without their last one (the terminator), decoded, unexpanded;
// REG_DWORD: each byte as two upper-case hex digits, last byte first;
// REG_MULTI_SZ: the items decoded, each item's terminating NUL shown as CR LF, the final empty
//   item (the list terminator) dropped, so the text ends with CR LF after the last item;
// any other type: each byte as two upper-case hex digits and one blank, first byte first.
std::string RegistryValueToText(uint32_t type, std::string_view bytes,
                                const NarrowDecoder& narrowToUtf8);

}  // namespace velmora
