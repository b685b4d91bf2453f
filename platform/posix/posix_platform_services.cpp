#include "platform/platform_services.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/ini_settings_store.h"
#include "platform/posix/posix_file_system.h"

namespace velmora {
namespace {

// No Windows version here: a platform id of neither family, so both version flags stay clear.
class PosixVersionSource final : public VersionSource {
 public:
  ReportedVersion QueryVersion() override { return ReportedVersion{}; }
};

}  // namespace

PlatformServices MakePlatformServices() {
  PlatformServices services;
  services.machineRegistry = std::make_unique<FileRegistry>(FileRegistry::DefaultPath());
  services.userSettings =
      std::make_unique<IniSettingsStore>(IniSettingsStore::DefaultConfigFolder());
  services.versionSource = std::make_unique<PosixVersionSource>();
  services.fileSystem = std::make_unique<PosixFileSystem>();
  services.logFile = MakePlatformLogFile();
  services.defaultLogPath = PlatformLogPath();
  services.pathSeparator = '/';
  return services;
}

}  // namespace velmora
