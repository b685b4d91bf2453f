#include "platform/installer_settings.h"

namespace velmora {

std::string InstallerSettings::ReadInstallerSetting(std::string_view name) {
  reader_.RegKeyPath = std::string(kApplicationName) + "\\" + kInstallerSection;
  reader_.RegValueName = std::string(name);
  reader_.RegValueData.clear();
  reader_.ReadRegistryValue();

  std::string result = reader_.RegValueData;
  if (result == kGetErr) {
    // A failed read leaves the result at "GetErr".
    userSettings_.Read(kApplicationName, kInstallerSection, name, kGetErr, result);
  }
  return result;
}

bool InstallerSettings::WriteUserSetting(std::string_view name, std::string_view text) {
  return userSettings_.Write(kApplicationName, kInstallerSection, name, text);
}

}  // namespace velmora
