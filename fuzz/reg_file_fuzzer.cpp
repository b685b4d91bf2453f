// Registry export files of any content through the parser, and what it reads through the
// registry text conversion.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const velmora::NarrowDecoder identity = [](std::string_view s) { return std::string(s); };

  std::vector<velmora::RegFileDiagnostic> diagnostics;
  const velmora::RegFile file = velmora::RegFile::Parse(bytes, diagnostics);
  for (const char* key : {"SOFTWARE\\Velmora\\Info", "software\\velmora", "", "SOFTWARE"}) {
    if (!file.HasKey(key)) continue;
    for (const char* name : {"SetupDir", "SystemDir", "SetupMk", "", "a"}) {
      if (const velmora::RegFileValue* value = file.FindValue(key, name)) {
        velmora::RegistryValueToText(value->type, value->bytes, identity);
      }
    }
  }
  // The conversion on its own: the first byte picks the type.
  if (size > 0) velmora::RegistryValueToText(data[0] % 12, bytes.substr(1), identity);
  return 0;
}
