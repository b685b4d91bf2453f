#pragma once

#include <map>
#include <string>
#include <tuple>

#include "platform/settings_store.h"

namespace velmora::testing {

class FakeSettingsStore final : public SettingsStore {
 public:
  using Address = std::tuple<std::string, std::string, std::string>;

  void Set(const std::string& app, const std::string& section, const std::string& key,
           const std::string& text) {
    values[{app, section, key}] = text;
  }
  std::string Get(const std::string& app, const std::string& section,
                  const std::string& key) const {
    const auto it = values.find({app, section, key});
    return it == values.end() ? "<missing>" : it->second;
  }

  bool Read(std::string_view application, std::string_view section, std::string_view key,
            std::string_view defaultValue, std::string& value) override {
    ++readCount;
    if (failReads) return false;
    const auto it = values.find(Address(application, section, key));
    value = it == values.end() ? std::string(defaultValue) : it->second;
    return true;
  }

  bool Write(std::string_view application, std::string_view section, std::string_view key,
             std::string_view text) override {
    ++writeCount;
    if (failWrites) return false;
    values[Address(application, section, key)] = std::string(text);
    return true;
  }

  std::map<Address, std::string> values;
  bool failReads = false;
  bool failWrites = false;
  int readCount = 0;
  int writeCount = 0;
};

}  // namespace velmora::testing
