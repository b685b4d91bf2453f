#pragma once

#include "platform/machine_registry.h"

namespace velmora {

// HKEY_LOCAL_MACHINE through the ANSI registry calls, names in the system ANSI code page.
class Win32Registry final : public MachineRegistry {
 public:
  long OpenKeyForQuery(std::string_view subKey, RegKeyHandle& key) override;
  long QueryValue(RegKeyHandle key, std::string_view valueName, uint32_t& type, uint8_t* buffer,
                  uint32_t& byteCount) override;
  long CloseKey(RegKeyHandle key) override;
  std::string NarrowToUtf8(std::string_view narrow) const override;
};

}  // namespace velmora
