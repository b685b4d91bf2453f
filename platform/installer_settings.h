#pragma once

#include <string>
#include <string_view>

#include "platform/registry_reader.h"
#include "platform/settings_store.h"

namespace velmora {

inline constexpr const char* kApplicationName = "Velmora";
inline constexpr const char* kInstallerSection = "Info";

// The values that the Velmora installer records: the machine registry key
// HKEY_LOCAL_MACHINE\Software\Velmora\Info first, the per-user settings (application "Velmora",
// section "Info") when the registry answers exactly "GetErr".
class InstallerSettings {
 public:
  InstallerSettings(MachineRegistry& registry, SettingsStore& userSettings)
      : reader_(registry), userSettings_(userSettings) {}

  // The installer value `name`, or "GetErr" when neither store holds it. Leaves the reader's
  // request and answer in reader().
  std::string ReadInstallerSetting(std::string_view name);

  // Overwrites the per-user value `name`. False when the store could not be written.
  bool WriteUserSetting(std::string_view name, std::string_view text);

  const RegistryReader& reader() const { return reader_; }
  SettingsStore& userSettings() { return userSettings_; }

 private:
  RegistryReader reader_;
  SettingsStore& userSettings_;
};

}  // namespace velmora
