#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

  bool operator==(const RegFileValue&) const = default;
};

struct RegFileDiagnostic {
  int64_t line = 0;  // 1-based physical line; 0 for the file as a whole
  std::string message;

  bool operator==(const RegFileDiagnostic&) const = default;
};

// Delivers a file's bytes in order: up to `capacity` bytes into `buffer`, returning how many;
// 0 at the end of the file (or after a read error, which the source keeps to itself).
using RegFileByteSource = std::function<size_t(char* buffer, size_t capacity)>;
using RegFileDiagnosticSink = std::function<void(const RegFileDiagnostic&)>;

// One key as a registry export file leaves it, once every definition and deletion in it has
// been applied in order.
struct RegFileKey {
  bool exists = false;                         // the key itself or a key below it
  std::map<std::string, RegFileValue> values;  // by folded value name

  const RegFileValue* FindValue(std::string_view valueName) const;
  bool operator==(const RegFileKey&) const = default;
};

// The HKEY_LOCAL_MACHINE part of a registry export file, as written by "reg export" or the
// registry editor: "Windows Registry Editor Version 5.00" (UTF-16LE with a byte-order mark, or
// UTF-8) or "REGEDIT4". Keys of other roots are ignored. Key and value names compare without
// regard to case; "@" is the default value, whose name is empty.
//
// A malformed line is reported as a diagnostic and skipped; a file without a known header yields
// no keys at all. A logical line (a value with its continuation lines) longer than
// kMaxLineBytes is reported and skipped, so that no content makes the parse hold more.
class RegFile {
 public:
  static constexpr size_t kMaxLineBytes = size_t{1} << 20;

  // Reads `source` to its end (or until the file is known not to be an export) and keeps only
  // what concerns `keyPath`: its values, and whether it or a key below it exists. The memory held
  // does not depend on the file's size, only on that key's values and the keys below it.
  static RegFileKey ParseKey(const RegFileByteSource& source, std::string_view keyPath,
                             const RegFileDiagnosticSink& report);

  // The whole file in memory, every key kept.
  static RegFile Parse(std::string_view fileBytes, std::vector<RegFileDiagnostic>& diagnostics);

  // `keyPath` below HKEY_LOCAL_MACHINE, components separated by one backslash. A key exists
  // when it or any key below it is in the file.
  bool HasKey(std::string_view keyPath) const;
  const RegFileValue* FindValue(std::string_view keyPath, std::string_view valueName) const;
  // What ParseKey gives for `keyPath` on the same file.
  RegFileKey Key(std::string_view keyPath) const;

 private:
  using Values = std::map<std::string, RegFileValue>;
  std::map<std::string, Values> keys_;  // by folded key path

  friend class WholeFileSink;
};

// The folded form under which names compare: ASCII letters in lower case.
std::string FoldRegistryName(std::string_view name);

// FoldRegistryName of a key path; none when the path has an empty component (leading, trailing
// or doubled backslash) and is not empty itself.
std::optional<std::string> FoldRegistryKeyPath(std::string_view keyPath);

}  // namespace velmora
