#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// A value as the narrow registry calls deliver it: string types (1, 2, 7) as UTF-8 bytes with
// their terminating NULs, every other type as its raw bytes.
struct RegFileValue {
  uint32_t type = 0;
  std::string bytes;
};

struct RegFileDiagnostic {
  int line = 0;  // 1-based physical line; 0 for the file as a whole
  std::string message;
};

// The HKEY_LOCAL_MACHINE part of a registry export file, as written by "reg export" or the
// registry editor: "Windows Registry Editor Version 5.00" (UTF-16LE with a byte-order mark, or
// UTF-8) or "REGEDIT4". Keys of other roots are ignored. Key and value names compare without
// regard to case; "@" is the default value, whose name is empty.
class RegFile {
 public:
  // Parses what it can: a malformed line is reported in `diagnostics` and skipped; a file
  // without a known header yields no keys at all.
  static RegFile Parse(std::string_view fileBytes, std::vector<RegFileDiagnostic>& diagnostics);

  // `keyPath` below HKEY_LOCAL_MACHINE, components separated by one backslash. A key exists
  // when it or any key below it is in the file.
  bool HasKey(std::string_view keyPath) const;
  const RegFileValue* FindValue(std::string_view keyPath, std::string_view valueName) const;

 private:
  using Values = std::map<std::string, RegFileValue>;
  std::map<std::string, Values> keys_;  // by folded key path

  friend class RegFileParser;
};

// The folded form under which names compare: ASCII letters in lower case. Empty when the path
// has an empty component (leading, trailing or doubled backslash) and is not empty itself.
std::optional<std::string> FoldRegistryKeyPath(std::string_view keyPath);

}  // namespace velmora
