#pragma once

#include <memory>

#include "platform/file_system.h"
#include "platform/machine_registry.h"
#include "platform/settings_store.h"
#include "platform/windows_version.h"

namespace velmora {

// The real back-ends of the platform this program was built for.
struct PlatformServices {
  std::unique_ptr<MachineRegistry> machineRegistry;
  std::unique_ptr<SettingsStore> userSettings;
  std::unique_ptr<VersionSource> versionSource;
  std::unique_ptr<FileSystem> fileSystem;
  char pathSeparator = '/';
};

PlatformServices MakePlatformServices();

}  // namespace velmora
