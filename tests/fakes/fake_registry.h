#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/machine_registry.h"
#include "platform/reg_file.h"

namespace velmora::testing {

// An in-memory HKEY_LOCAL_MACHINE that answers as the narrow registry calls do (key paths and
// value names without regard to case), and records which keys were opened and closed and whether
// each query was handed a zero-filled buffer.
class FakeRegistry final : public MachineRegistry {
 public:
  void SetValue(const std::string& key, const std::string& name, uint32_t type, std::string bytes) {
    values_[*FoldRegistryKeyPath(key)][FoldRegistryName(name)] =
        RegFileValue{type, std::move(bytes)};
  }
  void SetString(const std::string& key, const std::string& name, const std::string& text) {
    SetValue(key, name, kRegSz, text + '\0');
  }
  void AddKey(const std::string& key) { values_[*FoldRegistryKeyPath(key)]; }
  void Delete(const std::string& key, const std::string& name) {
    values_[*FoldRegistryKeyPath(key)].erase(FoldRegistryName(name));
  }
  void FailOpenWith(long code) { openFailure_ = code; }

  long OpenKeyForQuery(std::string_view subKey, RegKeyHandle& key) override {
    openedPaths.emplace_back(subKey);
    if (openFailure_ != kRegSuccess) return openFailure_;
    const auto folded = FoldRegistryKeyPath(subKey);
    if (!folded || values_.count(*folded) == 0) return kRegFileNotFound;
    key = nextHandle_++;
    open_[key] = *folded;
    return kRegSuccess;
  }

  long QueryValue(RegKeyHandle key, std::string_view valueName, uint32_t& type, uint8_t* buffer,
                  uint32_t& byteCount) override {
    buffersZeroFilled.push_back(
        std::all_of(buffer, buffer + byteCount, [](uint8_t b) { return b == 0; }));
    const auto& values = values_.at(open_.at(key));
    const auto value = values.find(FoldRegistryName(valueName));
    if (value == values.end()) return kRegFileNotFound;
    type = value->second.type;
    const auto size = static_cast<uint32_t>(value->second.bytes.size());
    if (size > byteCount) {
      byteCount = size;
      return kRegMoreData;
    }
    std::memcpy(buffer, value->second.bytes.data(), size);
    byteCount = size;
    return kRegSuccess;
  }

  long CloseKey(RegKeyHandle key) override {
    ++closeCount;
    return open_.erase(key) == 1 ? kRegSuccess : kRegAccessDenied;
  }

  // Narrow text here is UTF-8, as on the Linux back-end.
  std::string NarrowToUtf8(std::string_view narrow) const override { return std::string(narrow); }

  size_t openKeyCount() const { return open_.size(); }

  std::vector<std::string> openedPaths;
  std::vector<bool> buffersZeroFilled;  // one entry per QueryValue, in call order
  int closeCount = 0;

 private:
  std::map<std::string, std::map<std::string, RegFileValue>> values_;
  std::map<RegKeyHandle, std::string> open_;
  RegKeyHandle nextHandle_ = 100;
  long openFailure_ = kRegSuccess;
};

}  // namespace velmora::testing
