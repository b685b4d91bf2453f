#include "platform/registry_reader.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/registry_text.h"

namespace velmora {

void RegistryReader::ReadRegistryValue() {
  constexpr uint32_t kBufferSize = 256;
  std::array<uint8_t, kBufferSize> buffer{};
  uint32_t byteCount = kBufferSize;
  uint32_t type = 0;

  RegKeyHandle key = 0;
  if (registry_.OpenKeyForQuery("Software\\" + RegKeyPath, key) != kRegSuccess) {
    RegValueData = kGetErr;
    return;
  }
  if (registry_.QueryValue(key, RegValueName, type, buffer.data(), byteCount) == kRegSuccess &&
      byteCount <= kBufferSize) {
    const std::string_view bytes(reinterpret_cast<const char*>(buffer.data()), byteCount);
    RegValueData = RegistryValueToText(
        type, bytes, [this](std::string_view narrow) { return registry_.NarrowToUtf8(narrow); });
  } else {
    RegValueData = kGetErr;
  }
  registry_.CloseKey(key);
}

}  // namespace velmora
