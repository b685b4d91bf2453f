// Registry export files of any content through the streaming parser, in pieces whose size the
// first byte picks, checked against the whole-file parse; and what it reads through the registry
// text conversion.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reg_file.h"
#include "platform/registry_text.h"
#include "platform/unicode_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = size_t{data[0]} % 64 + 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const velmora::NarrowDecoder identity = [](std::string_view s) { return std::string(s); };

  std::vector<velmora::RegFileDiagnostic> wholeDiagnostics;
  const velmora::RegFile whole = velmora::RegFile::Parse(bytes, wholeDiagnostics);

  for (const char* key : {"SOFTWARE\\Velmora\\Info", "software\\velmora", "", "SOFTWARE", "a"}) {
    size_t offset = 0;
    const velmora::RegFileByteSource source = [&](char* buffer, size_t capacity) {
      const size_t count = std::min({chunk, capacity, bytes.size() - offset});
      bytes.copy(buffer, count, offset);
      offset += count;
      return count;
    };
    std::vector<velmora::RegFileDiagnostic> diagnostics;
    const velmora::RegFileKey streamed = velmora::RegFile::ParseKey(
        source, key, [&](const velmora::RegFileDiagnostic& d) { diagnostics.push_back(d); });
    // The pieces must not change the answer.
    if (!(streamed == whole.Key(key)) || diagnostics != wholeDiagnostics) std::abort();

    for (const auto& [name, value] : streamed.values) {
      velmora::RegistryValueToText(value.type, value.bytes, identity);
    }
  }
  // A UTF-16LE file reads as its text converted on its own and read as UTF-8 (unless that text
  // starts with a byte-order mark of its own, which the UTF-8 reading would drop).
  if (bytes.substr(0, 2) == "\xFF\xFE") {
    const std::string text = velmora::Utf16LeBytesToUtf8(bytes.substr(2));
    if (text.compare(0, 3, "\xEF\xBB\xBF") != 0) {
      std::vector<velmora::RegFileDiagnostic> textDiagnostics;
      const velmora::RegFile fromText = velmora::RegFile::Parse(text, textDiagnostics);
      for (const char* key : {"SOFTWARE\\Velmora\\Info", "", "a"}) {
        if (!(fromText.Key(key) == whole.Key(key))) std::abort();
      }
      if (textDiagnostics != wholeDiagnostics) std::abort();
    }
  }

  // The conversion on its own: the second byte picks the type.
  if (!bytes.empty()) {
    velmora::RegistryValueToText(static_cast<uint8_t>(bytes[0]) % 12, bytes.substr(1), identity);
  }
  return 0;
}
