#pragma once

#include "copy/copy_procedure.h"
#include "platform/installer_settings.h"
#include "platform/platform_services.h"

namespace velmora {

// What the program is made of, on the real back-ends of its platform, for the program's life.
struct CopyApplication {
  PlatformServices services = MakePlatformServices();
  InstallerSettings settings{*services.machineRegistry, *services.userSettings};
  WindowsVersion version{*services.versionSource};
  CopyProcedure procedure{*services.fileSystem, settings, version, services.pathSeparator};
};

}  // namespace velmora
