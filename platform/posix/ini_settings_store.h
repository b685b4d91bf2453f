#pragma once

#include <string>

#include "platform/settings_store.h"

namespace velmora {

// Per-user settings in INI files, one per application:
// <config folder>/<application>/<application>.ini, the section as group, the key as key.
// QSettings writes through a temporary file and a rename, so a write never leaves a
// half-written file.
class IniSettingsStore final : public SettingsStore {
 public:
  explicit IniSettingsStore(std::string configFolder) : configFolder_(std::move(configFolder)) {}

  bool Read(std::string_view application, std::string_view section, std::string_view key,
            std::string_view defaultValue, std::string& value) override;
  bool Write(std::string_view application, std::string_view section, std::string_view key,
             std::string_view text) override;

  // $XDG_CONFIG_HOME, or ~/.config when that is not set.
  static std::string DefaultConfigFolder();
  std::string FilePath(std::string_view application) const;

 private:
  std::string configFolder_;
};

}  // namespace velmora
