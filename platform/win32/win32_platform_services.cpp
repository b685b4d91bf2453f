#include <windows.h>

#include "platform/platform_services.h"
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_settings_store.h"

namespace velmora {
namespace {

class Win32VersionSource final : public VersionSource {
 public:
  // Without a compatibility manifest Windows 8.1 and later report 6.2; the flags come out the same.
  ReportedVersion QueryVersion() override {
    OSVERSIONINFOA record;
    ZeroMemory(&record, sizeof record);
    record.dwOSVersionInfoSize = sizeof record;  // 148
    GetVersionExA(&record);                      // on failure the record stays zero-filled
    return ReportedVersion{record.dwMajorVersion, record.dwMinorVersion, record.dwPlatformId};
  }
};
static_assert(sizeof(OSVERSIONINFOA) == 148);

}  // namespace

PlatformServices MakePlatformServices() {
  // A CD drive without a disc then answers "not ready" to a listing, which the run reports as
  // the drive message, instead of the system's own "no disk" box stopping the program.
  SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  PlatformServices services;
  services.machineRegistry = std::make_unique<Win32Registry>();
  services.userSettings = std::make_unique<Win32SettingsStore>();
  services.versionSource = std::make_unique<Win32VersionSource>();
  services.fileSystem = std::make_unique<Win32FileSystem>();
  services.logFile = MakePlatformLogFile();
  services.defaultLogPath = PlatformLogPath();
  services.pathSeparator = '\\';
  return services;
}

}  // namespace velmora
