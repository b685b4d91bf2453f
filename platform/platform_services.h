#pragma once

#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/log_file.h"
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
  std::unique_ptr<LogFile> logFile;
  std::string defaultLogPath;  // where runs are logged unless told otherwise; empty: nowhere
  char pathSeparator = '/';
};

PlatformServices MakePlatformServices();

}  // namespace velmora
