#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// Result codes of the machine registry, with the Win32 values so that a back-end passes the
// platform's own code through unchanged.
inline constexpr long kRegSuccess = 0;
inline constexpr long kRegFileNotFound = 2;
inline constexpr long kRegAccessDenied = 5;
inline constexpr long kRegMoreData = 234;

// Registry value types, with their Win32 codes.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

using RegKeyHandle = uintptr_t;

// The HKEY_LOCAL_MACHINE hive, seen through the narrow ("ANSI") calls. Key paths and value
// names are UTF-8; a back-end converts them to its narrow text at its edge. Values come back
// as the narrow calls deliver them: string types as narrow bytes with their terminating NULs.
class MachineRegistry {
 public:
  virtual ~MachineRegistry() = default;

  // Opens `subKey` (below HKEY_LOCAL_MACHINE) for query only. On failure `key` is untouched.
  virtual long OpenKeyForQuery(std::string_view subKey, RegKeyHandle& key) = 0;

  // Reads one value into `buffer`, at most `byteCount` bytes going in. On success `type` holds the
  // type code and `byteCount` the bytes delivered. A value larger than the buffer gives
  // kRegMoreData with the buffer's content unspecified.
  virtual long QueryValue(RegKeyHandle key, std::string_view valueName, uint32_t& type,
                          uint8_t* buffer, uint32_t& byteCount) = 0;

  virtual long CloseKey(RegKeyHandle key) = 0;

  // Converts narrow text, as QueryValue delivers it, to UTF-8.
  virtual std::string NarrowToUtf8(std::string_view narrow) const = 0;
};

}  // namespace velmora
