#pragma once

#include <optional>
#include <string>

#include "app/run_log.h"
#include "copy/copy_procedure.h"
#include "platform/installer_settings.h"
#include "platform/platform_services.h"

namespace velmora {

// What the program is made of, on the real back-ends of its platform, for the program's life.
struct CopyApplication {
  // Runs are logged to `logPath`, or where the platform keeps the log when none is given.
  explicit CopyApplication(const std::optional<std::string>& logPath = std::nullopt)
      : run(procedure, *services.logFile, logPath.value_or(services.defaultLogPath),
            services.pathSeparator) {}

  PlatformServices services = MakePlatformServices();
  InstallerSettings settings{*services.machineRegistry, *services.userSettings};
  WindowsVersion version{*services.versionSource};
  CopyProcedure procedure{*services.fileSystem, settings, version, services.pathSeparator};
  LoggedRun run;
};

}  // namespace velmora
