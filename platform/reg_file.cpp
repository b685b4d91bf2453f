#include "platform/reg_file.h"

#include <algorithm>
#include <iterator>
#include <set>
#include <utility>

#include "platform/unicode_text.h"

namespace velmora {
namespace {

constexpr std::string_view kHeaderUnicode = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderAnsi = "REGEDIT4";
constexpr std::string_view kMachineRoot = "hkey_local_machine";
constexpr size_t kReadChunkBytes = 64 * 1024;
constexpr char32_t kReplacement = 0xFFFD;

std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool StartsWithFolded(std::string_view s, std::string_view foldedPrefix) {
  return s.size() >= foldedPrefix.size() &&
         FoldRegistryName(s.substr(0, foldedPrefix.size())) == foldedPrefix;
}

// `key` is `base` or lies below it; every key lies below the root, whose path is empty.
bool IsAtOrBelow(std::string_view key, std::string_view base) {
  return base.empty() || key == base ||
         (key.size() > base.size() && key.substr(0, base.size()) == base &&
          key[base.size()] == '\\');
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Writes the UTF-8 form of `cp` at `out`, returning the position after it.
char* PutUtf8(char* out, char32_t cp) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
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

// What the parser finds, in file order. Key paths and value names come folded.
class RegFileSink {
 public:
  virtual ~RegFileSink() = default;
  virtual void DefineKey(const std::string& key) = 0;
  virtual void DeleteKeyTree(const std::string& key) = 0;
  virtual void SetValue(const std::string& key, std::string name, RegFileValue value) = 0;
  virtual void DeleteValue(const std::string& key, const std::string& name) = 0;
};

// Keeps one key: its values, and which of it and the keys below it are defined and not deleted
// since. Everything else in the file passes through without being kept.
class WantedKeySink final : public RegFileSink {
 public:
  explicit WantedKeySink(std::optional<std::string> wanted) : wanted_(std::move(wanted)) {}

  void DefineKey(const std::string& key) override {
    if (!wanted_) return;
    if (key == *wanted_) {
      defined_ = true;
    } else if (IsAtOrBelow(key, *wanted_)) {
      below_.insert(key);
    }
  }

  void DeleteKeyTree(const std::string& key) override {
    if (!wanted_) return;
    if (IsAtOrBelow(*wanted_, key)) {
      defined_ = false;
      below_.clear();
      values_.clear();
      return;
    }
    if (!IsAtOrBelow(key, *wanted_)) return;
    // Keys sharing the prefix sort together, with siblings such as "a!" between "a" and "a\b".
    for (auto it = below_.lower_bound(key);
         it != below_.end() && std::string_view(*it).substr(0, key.size()) == key;) {
      it = IsAtOrBelow(*it, key) ? below_.erase(it) : std::next(it);
    }
  }

  void SetValue(const std::string& key, std::string name, RegFileValue value) override {
    if (wanted_ && key == *wanted_) values_[std::move(name)] = std::move(value);
  }

  void DeleteValue(const std::string& key, const std::string& name) override {
    if (wanted_ && key == *wanted_) values_.erase(name);
  }

  RegFileKey TakeResult() {
    const bool exists = wanted_ && (wanted_->empty() || defined_ || !below_.empty());
    return RegFileKey{exists, std::move(values_)};
  }

 private:
  std::optional<std::string> wanted_;
  bool defined_ = false;
  std::set<std::string> below_;
  std::map<std::string, RegFileValue> values_;
};

// Bytes in, in pieces of any size: decoded (UTF-16LE after a byte-order mark, otherwise taken as
// they are), cut into physical lines (CR, LF or CR LF), joined into logical lines (hex data
// continued with a trailing backslash) and parsed, each in turn, holding at most one line.
class RegFileParser {
 public:
  RegFileParser(RegFileSink& sink, const RegFileDiagnosticSink& report)
      : sink_(sink), report_(report) {}

  void Feed(std::string_view bytes) {
    if (encoding_ == Encoding::kUndecided) {
      const size_t take = std::min(bytes.size(), size_t{3} - lead_.size());
      lead_.append(bytes.substr(0, take));
      bytes.remove_prefix(take);
      if (lead_.size() < 3) return;
      DecideEncoding();
    }
    Decode(bytes);
  }

  void Finish() {
    if (encoding_ == Encoding::kUndecided) DecideEncoding();
    if (encoding_ == Encoding::kUtf16Le && (pendingHigh_ || oddByte_)) {
      // A high surrogate with nothing after it, and an odd last byte, are each U+FFFD.
      char end[8];
      char* out = end;
      if (pendingHigh_) out = PutUtf8(out, kReplacement);
      if (oddByte_) out = PutUtf8(out, kReplacement);
      SplitLines(std::string_view(end, static_cast<size_t>(out - end)));
    }
    if (stage_ != Stage::kDone && lineLength_ > 0) EndLine();
    if (stage_ == Stage::kHeader) {
      Report(0, "empty file: no registry export header");
    } else if (stage_ == Stage::kBody && continuing_) {
      Report(logicalStart_, "file ends inside a continued value");
    }
    stage_ = Stage::kDone;
  }

  // Nothing further in the file can change the outcome.
  bool done() const { return stage_ == Stage::kDone; }

 private:
  enum class Encoding { kUndecided, kNarrow, kUtf16Le };
  enum class Stage { kHeader, kBody, kDone };

  void DecideEncoding() {
    std::string_view lead = lead_;
    if (lead.size() >= 2 && lead[0] == '\xFF' && lead[1] == '\xFE') {
      encoding_ = Encoding::kUtf16Le;
      lead.remove_prefix(2);
    } else {
      encoding_ = Encoding::kNarrow;
      if (lead == "\xEF\xBB\xBF") lead.remove_prefix(3);
    }
    Decode(lead);
  }

  void Decode(std::string_view bytes) {
    if (bytes.empty() || done()) return;
    if (encoding_ == Encoding::kNarrow) {
      SplitLines(bytes);
      return;
    }
    // A code unit may straddle two pieces (its odd byte is kept), and so may a surrogate pair
    // (its high half is kept). Unpaired surrogates become U+FFFD.
    decoded_.resize(bytes.size() / 2 * 3 + 8);
    char* const start = decoded_.data();
    char* out = start;
    const auto put = [&](char16_t unit) {
      if (pendingHigh_) {
        const char16_t high = *pendingHigh_;
        pendingHigh_.reset();
        if (IsLowSurrogate(unit)) {
          out = PutUtf8(out, 0x10000 + ((char32_t{high} - 0xD800) << 10) + (unit - 0xDC00));
          return;
        }
        out = PutUtf8(out, kReplacement);
      }
      if (IsHighSurrogate(unit)) {
        pendingHigh_ = unit;
      } else if (unit < 0x80) {
        *out++ = static_cast<char>(unit);
      } else {
        out = PutUtf8(out, IsLowSurrogate(unit) ? kReplacement : unit);
      }
    };
    const auto byte = [](char c) { return static_cast<char16_t>(static_cast<unsigned char>(c)); };
    size_t i = 0;
    if (oddByte_) {
      put(static_cast<char16_t>(byte(*oddByte_) | (byte(bytes[0]) << 8)));
      oddByte_.reset();
      i = 1;
    }
    for (; i + 1 < bytes.size(); i += 2) {
      put(static_cast<char16_t>(byte(bytes[i]) | (byte(bytes[i + 1]) << 8)));
    }
    if (i < bytes.size()) oddByte_ = bytes[i];
    SplitLines(std::string_view(start, static_cast<size_t>(out - start)));
  }

  void SplitLines(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && !done()) {
      if (afterCr_) {
        afterCr_ = false;
        if (text[i] == '\n') {  // the LF of a CR LF that the previous piece ended in
          ++i;
          continue;
        }
      }
      size_t end = i;
      while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
      if (end == text.size()) {
        AppendToLine(text.substr(i));
        return;
      }
      AppendToLine(text.substr(i, end - i));
      afterCr_ = text[end] == '\r';
      EndLine();
      i = end + 1;
    }
  }

  void AppendToLine(std::string_view piece) {
    if (piece.empty()) return;
    lineLength_ += piece.size();
    if (line_.size() < RegFile::kMaxLineBytes) {
      line_.append(piece.substr(0, RegFile::kMaxLineBytes - line_.size()));
    }
    const std::string_view trimmed = TrimSpaces(piece);
    if (!trimmed.empty()) lastNonBlank_ = trimmed.back();
    // A first line this long is no header: the file is known not to be an export without
    // waiting for the line's end, which may never come.
    if (stage_ == Stage::kHeader && lastNonBlank_ && lineLength_ > RegFile::kMaxLineBytes) {
      ++lineNumber_;
      HeaderLine(TrimSpaces(line_), /*overlong=*/true);
    }
  }

  void EndLine() {
    if (done()) return;  // the first line was already found too long to be a header
    ++lineNumber_;
    // A line of blanks is blank however long; the rest of an overlong line is not kept.
    const bool blank = !lastNonBlank_;
    const bool overlong = !blank && lineLength_ > RegFile::kMaxLineBytes;
    const std::string_view trimmed = blank ? std::string_view() : TrimSpaces(line_);
    if (stage_ == Stage::kHeader) {
      HeaderLine(trimmed, overlong);
    } else {
      BodyLine(trimmed, overlong, lastNonBlank_ == '\\');
    }
    line_.clear();
    lineLength_ = 0;
    lastNonBlank_.reset();
  }

  void HeaderLine(std::string_view trimmed, bool overlong) {
    if (!overlong && trimmed.empty()) return;
    if (!overlong && trimmed == kHeaderUnicode) {
      unicodeExport_ = true;
      stage_ = Stage::kBody;
    } else if (!overlong && trimmed == kHeaderAnsi) {
      unicodeExport_ = false;
      stage_ = Stage::kBody;
    } else {
      Report(lineNumber_, "not a registry export file: the first line must be \"" +
                              std::string(kHeaderUnicode) + "\" or \"" + std::string(kHeaderAnsi) +
                              "\"");
      stage_ = Stage::kDone;
    }
  }

  void BodyLine(std::string_view trimmed, bool overlong, bool endsInBackslash) {
    if (skipping_) {  // continuation lines of a line skipped as too long
      skipping_ = endsInBackslash;
      return;
    }
    if (overlong ||
        (continuing_ && logical_.size() - 1 + trimmed.size() > RegFile::kMaxLineBytes)) {
      Report(continuing_ ? logicalStart_ : lineNumber_,
             "line longer than " + std::to_string(RegFile::kMaxLineBytes) + " bytes: skipped");
      continuing_ = false;
      logical_.clear();
      skipping_ = endsInBackslash;
      return;
    }
    if (continuing_) {
      logical_.pop_back();
      logical_ += trimmed;
      // Still a hex value line: its start is unchanged.
      continuing_ = !logical_.empty() && logical_.back() == '\\';
    } else {
      logical_.assign(trimmed);
      logicalStart_ = lineNumber_;
      // Hex data may run over several lines, each but the last ending in a backslash.
      continuing_ = !logical_.empty() && logical_.back() == '\\' && IsHexValueLine(logical_);
    }
    if (!continuing_) ParseLine(logical_, logicalStart_);
  }

  static bool IsHexValueLine(std::string_view line) {
    if (line.empty() || (line.front() != '"' && line.front() != '@')) return false;
    return line.rfind("=hex") != std::string_view::npos;
  }

  void Report(int64_t line, std::string message) {
    if (report_) report_(RegFileDiagnostic{line, std::move(message)});
  }

  void ParseLine(std::string_view line, int64_t lineNumber) {
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

  void ParseSection(std::string_view line, int64_t lineNumber) {
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
    std::optional<std::string> folded = FoldRegistryKeyPath(path);
    if (!folded) {
      Report(lineNumber, "key path with an empty component");
      return;
    }
    if (deletion) {
      sink_.DeleteKeyTree(*folded);
      return;
    }
    sink_.DefineKey(*folded);
    currentKey_ = std::move(folded);
  }

  void ParseValue(std::string_view line, int64_t lineNumber) {
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
      sink_.DeleteValue(*currentKey_, FoldRegistryName(name));
      return;
    }
    std::optional<RegFileValue> value = ParseData(data);
    if (!value) {
      Report(lineNumber, "value data not understood: " + std::string(data.substr(0, 40)));
      return;
    }
    sink_.SetValue(*currentKey_, FoldRegistryName(name), std::move(*value));
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
      for (int shift = 0; shift < 32; shift += 8)
        bytes += static_cast<char>((*number >> shift) & 0xFF);
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

  RegFileSink& sink_;
  const RegFileDiagnosticSink& report_;

  // Decoding.
  Encoding encoding_ = Encoding::kUndecided;
  std::string lead_;  // the first bytes, until they tell the encoding
  std::optional<char> oddByte_;
  std::optional<char16_t> pendingHigh_;
  std::string decoded_;

  // Physical lines.
  std::string line_;  // at most kMaxLineBytes of the line
  size_t lineLength_ = 0;
  std::optional<char> lastNonBlank_;
  bool afterCr_ = false;
  int64_t lineNumber_ = 0;

  // Logical lines.
  Stage stage_ = Stage::kHeader;
  std::string logical_;
  int64_t logicalStart_ = 0;
  bool continuing_ = false;
  bool skipping_ = false;

  bool unicodeExport_ = true;
  bool sawSection_ = false;
  std::optional<std::string> currentKey_;
};

}  // namespace

// Keeps every key of the file.
class WholeFileSink final : public RegFileSink {
 public:
  explicit WholeFileSink(RegFile& file) : keys_(file.keys_) {}

  void DefineKey(const std::string& key) override { keys_[key]; }

  void DeleteKeyTree(const std::string& key) override {
    for (auto it = keys_.begin(); it != keys_.end();) {
      it = IsAtOrBelow(it->first, key) ? keys_.erase(it) : std::next(it);
    }
  }

  void SetValue(const std::string& key, std::string name, RegFileValue value) override {
    keys_[key][std::move(name)] = std::move(value);
  }

  void DeleteValue(const std::string& key, const std::string& name) override {
    keys_[key].erase(name);
  }

 private:
  std::map<std::string, RegFile::Values>& keys_;
};

std::string FoldRegistryName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::optional<std::string> FoldRegistryKeyPath(std::string_view keyPath) {
  if (keyPath.empty()) return std::string();
  if (keyPath.front() == '\\' || keyPath.back() == '\\' || keyPath.find("\\\\") != keyPath.npos) {
    return std::nullopt;
  }
  return FoldRegistryName(keyPath);
}

const RegFileValue* RegFileKey::FindValue(std::string_view valueName) const {
  const auto value = values.find(FoldRegistryName(valueName));
  return value == values.end() ? nullptr : &value->second;
}

RegFileKey RegFile::ParseKey(const RegFileByteSource& source, std::string_view keyPath,
                             const RegFileDiagnosticSink& report) {
  WantedKeySink sink(FoldRegistryKeyPath(keyPath));
  RegFileParser parser(sink, report);
  std::string buffer(kReadChunkBytes, '\0');
  while (!parser.done()) {
    const size_t count = source(buffer.data(), buffer.size());
    if (count == 0) break;
    parser.Feed(std::string_view(buffer).substr(0, count));
  }
  parser.Finish();
  return sink.TakeResult();
}

RegFile RegFile::Parse(std::string_view fileBytes, std::vector<RegFileDiagnostic>& diagnostics) {
  RegFile file;
  WholeFileSink sink(file);
  const RegFileDiagnosticSink report = [&](const RegFileDiagnostic& d) {
    diagnostics.push_back(d);
  };
  RegFileParser parser(sink, report);
  parser.Feed(fileBytes);
  parser.Finish();
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
  const auto value = key->second.find(FoldRegistryName(valueName));
  return value == key->second.end() ? nullptr : &value->second;
}

RegFileKey RegFile::Key(std::string_view keyPath) const {
  RegFileKey result;
  result.exists = HasKey(keyPath);
  const std::optional<std::string> folded = FoldRegistryKeyPath(keyPath);
  if (!folded) return result;
  const auto key = keys_.find(*folded);
  if (key != keys_.end()) result.values = key->second;
  return result;
}

}  // namespace velmora
