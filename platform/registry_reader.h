#pragma once

#include <string>

#include "platform/machine_registry.h"

namespace velmora {

inline constexpr const char* kGetErr = "GetErr";

// Reads one value below HKEY_LOCAL_MACHINE\Software as text. The caller fills RegKeyPath
// (no backslash at either end) and RegValueName, calls ReadRegistryValue, and reads
// RegValueData: the value's text, or "GetErr" when the key or value cannot be read or the value
// is over 256 bytes. Serves one request at a time.
class RegistryReader {
 public:
  explicit RegistryReader(MachineRegistry& registry) : registry_(registry) {}

  void ReadRegistryValue();

  std::string RegKeyPath;
  std::string RegValueName;
  std::string RegValueData;

 private:
  MachineRegistry& registry_;
};

}  // namespace velmora
