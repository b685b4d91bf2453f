#include "platform/reg_file.h"

#include <cctype>
#include <utility>

#include "platform/unicode_text.h"

namespace velmora {
namespace {

constexpr std::string_view kHeaderUnicode = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderAnsi = "REGEDIT4";
constexpr std::string_view kMachineRoot = "hkey_local_machine";

std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool StartsWithFolded(std::string_view s, std::string_view foldedPrefix) {
  return s.size() >= foldedPrefix.size() && FoldName(s.substr(0, foldedPrefix.size())) == foldedPrefix;
}

std::string DecodeFileText(std::string_view bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    return Utf16LeBytesToUtf8(bytes.substr(2));
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return std::string(bytes);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted string with the export escapes \\ and \" at `pos` (on the opening quote).
std::optional<std::string> ReadQuoted(std::string_view s, size_t& pos) {
  std::string out;
  for (++pos; pos < s.size(); ++pos) {
    const char c = s[pos];
    if (c == '"') {
      ++pos;
      return out;
    }
    if (c == '\\') {
      if (pos + 1 >= s.size() || (s[pos + 1] != '\\' && s[pos + 1] != '"')) return std::nullopt;
      out += s[++pos];
    } else {
      out += c;
    }
  }
  return std::nullopt;
}

// "01,0a,ff" (blanks allowed around each byte; empty gives no bytes).
std::optional<std::string> ReadHexBytes(std::string_view list) {
  std::string bytes;
  list = TrimSpaces(list);
  if (list.empty()) return bytes;
  size_t start = 0;
  while (true) {
    const size_t comma = list.find(',', start);
    const std::string_view item =
        TrimSpaces(list.substr(start, comma == std::string_view::npos ? list.npos : comma - start));
    if (item.empty() || item.size() > 2) return std::nullopt;
    int value = 0;
    for (char c : item) {
      const int digit = HexDigit(c);
      if (digit < 0) return std::nullopt;
      value = value * 16 + digit;
    }
    bytes += static_cast<char>(value);
    if (comma == std::string_view::npos) return bytes;
    start = comma + 1;
  }
}

std::optional<uint32_t> ReadHexNumber(std::string_view digits, size_t maxDigits) {
  if (digits.empty() || digits.size() > maxDigits) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return value;
}

bool IsNarrowStringType(uint32_t type) { return type == 1 || type == 2 || type == 7; }

}  // namespace

std::optional<std::string> FoldRegistryKeyPath(std::string_view keyPath) {
  if (keyPath.empty()) return std::string();
  if (keyPath.front() == '\\' || keyPath.back() == '\\' || keyPath.find("\\\\") != keyPath.npos) {
    return std::nullopt;
  }
  return FoldName(keyPath);
}

class RegFileParser {
 public:
  RegFileParser(RegFile& file, std::vector<RegFileDiagnostic>& diagnostics)
      : file_(file), diagnostics_(diagnostics) {}

  void Parse(std::string_view fileBytes) {
    const std::string text = DecodeFileText(fileBytes);
    const std::vector<std::string_view> lines = SplitLines(text);

    size_t index = 0;
    while (index < lines.size() && TrimSpaces(lines[index]).empty()) ++index;
    if (index == lines.size()) {
      Report(0, "empty file: no registry export header");
      return;
    }
    const std::string_view header = TrimSpaces(lines[index]);
    if (header == kHeaderUnicode) {
      unicodeExport_ = true;
    } else if (header == kHeaderAnsi) {
      unicodeExport_ = false;
    } else {
      Report(static_cast<int>(index) + 1,
             "not a registry export file: the first line must be \"" + std::string(kHeaderUnicode) +
                 "\" or \"" + std::string(kHeaderAnsi) + "\"");
      return;
    }

    for (++index; index < lines.size(); ++index) {
      const int lineNumber = static_cast<int>(index) + 1;
      std::string logical(TrimSpaces(lines[index]));
      // Hex data may run over several lines, each but the last ending in a backslash.
      while (!logical.empty() && logical.back() == '\\' && IsHexValueLine(logical)) {
        logical.pop_back();
        if (++index == lines.size()) {
          Report(lineNumber, "file ends inside a continued value");
          return;
        }
        logical += TrimSpaces(lines[index]);
      }
      ParseLine(logical, lineNumber);
    }
  }

 private:
  static bool IsHexValueLine(std::string_view line) {
    if (line.empty() || (line.front() != '"' && line.front() != '@')) return false;
    const size_t equals = line.rfind("=hex");
    return equals != std::string_view::npos;
  }

  void Report(int line, std::string message) {
    diagnostics_.push_back(RegFileDiagnostic{line, std::move(message)});
  }

  void ParseLine(std::string_view line, int lineNumber) {
    if (line.empty() || line.front() == ';') return;
    if (line.front() == '[') {
      ParseSection(line, lineNumber);
      return;
    }
    if (line.front() == '"' || line.front() == '@') {
      ParseValue(line, lineNumber);
      return;
    }
    Report(lineNumber, "neither a [key], a value nor a comment");
  }

  void ParseSection(std::string_view line, int lineNumber) {
    currentKey_.reset();
    sawSection_ = true;
    if (line.back() != ']') {
      Report(lineNumber, "key line without its closing ']'");
      return;
    }
    std::string_view path = line.substr(1, line.size() - 2);
    const bool deletion = !path.empty() && path.front() == '-';
    if (deletion) path.remove_prefix(1);
    if (!StartsWithFolded(path, kMachineRoot)) return;  // another root: not ours
    path.remove_prefix(kMachineRoot.size());
    if (!path.empty()) {
      if (path.front() != '\\') return;  // HKEY_LOCAL_MACHINEX: another root
      path.remove_prefix(1);
    }
    const std::optional<std::string> folded = FoldRegistryKeyPath(path);
    if (!folded) {
      Report(lineNumber, "key path with an empty component");
      return;
    }
    if (deletion) {
      DeleteKeyTree(*folded);
      return;
    }
    currentKey_ = *folded;
    file_.keys_[*folded];
  }

  void DeleteKeyTree(const std::string& folded) {
    for (auto it = file_.keys_.begin(); it != file_.keys_.end();) {
      const std::string& key = it->first;
      const bool below = folded.empty() || key == folded ||
                         (key.size() > folded.size() && key.compare(0, folded.size(), folded) == 0 &&
                          key[folded.size()] == '\\');
      it = below ? file_.keys_.erase(it) : std::next(it);
    }
  }

  void ParseValue(std::string_view line, int lineNumber) {
    size_t pos = 0;
    std::string name;
    if (line.front() == '@') {
      pos = 1;
    } else {
      std::optional<std::string> quoted = ReadQuoted(line, pos);
      if (!quoted) {
        Report(lineNumber, "value name without its closing quote, or with a bad escape");
        return;
      }
      name = std::move(*quoted);
    }
    const std::string_view rest = TrimSpaces(line.substr(pos));
    if (rest.empty() || rest.front() != '=') {
      Report(lineNumber, "value name not followed by '='");
      return;
    }
    const std::string_view data = TrimSpaces(rest.substr(1));
    if (!currentKey_) {
      // Values of another root's key go with their key; values before any key are an error.
      if (!sawSection_) Report(lineNumber, "value before any [key]");
      return;
    }
    if (data == "-") {
      file_.keys_[*currentKey_].erase(FoldName(name));
      return;
    }
    std::optional<RegFileValue> value = ParseData(data);
    if (!value) {
      Report(lineNumber, "value data not understood: " + std::string(data.substr(0, 40)));
      return;
    }
    file_.keys_[*currentKey_][FoldName(name)] = std::move(*value);
  }

  std::optional<RegFileValue> ParseData(std::string_view data) const {
    if (data.empty()) return std::nullopt;
    if (data.front() == '"') {
      size_t pos = 0;
      std::optional<std::string> text = ReadQuoted(data, pos);
      if (!text || !TrimSpaces(data.substr(pos)).empty()) return std::nullopt;
      return RegFileValue{1, *text + '\0'};
    }
    if (StartsWithFolded(data, "dword:")) {
      const std::optional<uint32_t> number = ReadHexNumber(TrimSpaces(data.substr(6)), 8);
      if (!number) return std::nullopt;
      std::string bytes;
      for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((*number >> shift) & 0xFF);
      return RegFileValue{4, bytes};
    }
    uint32_t type = 3;
    std::string_view list;
    if (StartsWithFolded(data, "hex:")) {
      list = data.substr(4);
    } else if (StartsWithFolded(data, "hex(")) {
      const size_t close = data.find("):");
      if (close == std::string_view::npos) return std::nullopt;
      const std::optional<uint32_t> code = ReadHexNumber(data.substr(4, close - 4), 8);
      if (!code) return std::nullopt;
      type = *code;
      list = data.substr(close + 2);
    } else {
      return std::nullopt;
    }
    std::optional<std::string> bytes = ReadHexBytes(list);
    if (!bytes) return std::nullopt;
    // Version 5 exports keep string types in UTF-16LE; the narrow calls deliver them converted.
    if (unicodeExport_ && IsNarrowStringType(type)) *bytes = Utf16LeBytesToUtf8(*bytes);
    return RegFileValue{type, std::move(*bytes)};
  }

  RegFile& file_;
  std::vector<RegFileDiagnostic>& diagnostics_;
  bool unicodeExport_ = true;
  bool sawSection_ = false;
  std::optional<std::string> currentKey_;
};

RegFile RegFile::Parse(std::string_view fileBytes, std::vector<RegFileDiagnostic>& diagnostics) {
  RegFile file;
  RegFileParser(file, diagnostics).Parse(fileBytes);
  return file;
}

bool RegFile::HasKey(std::string_view keyPath) const {
  const std::optional<std::string> folded = FoldRegistryKeyPath(keyPath);
  if (!folded) return false;
  if (folded->empty()) return true;
  for (auto it = keys_.lower_bound(*folded); it != keys_.end(); ++it) {
    const std::string& key = it->first;
    if (key.compare(0, folded->size(), *folded) != 0) return false;
    if (key.size() == folded->size() || key[folded->size()] == '\\') return true;
  }
  return false;
}

const RegFileValue* RegFile::FindValue(std::string_view keyPath, std::string_view valueName) const {
  const std::optional<std::string> folded = FoldRegistryKeyPath(keyPath);
  if (!folded) return nullptr;
  const auto key = keys_.find(*folded);
  if (key == keys_.end()) return nullptr;
  const auto value = key->second.find(FoldName(valueName));
  return value == key->second.end() ? nullptr : &value->second;
}

}  // namespace velmora
