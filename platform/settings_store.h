#pragma once

#include <string>
#include <string_view>

namespace velmora {

// The per-user application settings: string values addressed by application, section and key.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // Sets `value` to the stored text, or to `defaultValue` when the setting does not exist, and
  // returns true. Returns false, leaving `value` untouched, when the store cannot be read.
  virtual bool Read(std::string_view application, std::string_view section, std::string_view key,
                    std::string_view defaultValue, std::string& value) = 0;

  // Stores `text` in place of any earlier value, creating what is missing. False on failure, in
  // which case the earlier value stays as it was.
  virtual bool Write(std::string_view application, std::string_view section, std::string_view key,
                     std::string_view text) = 0;
};

}  // namespace velmora
