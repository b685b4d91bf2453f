#include <windows.h>

#include "app/win32/win32_copy_window.h"
#include "copy/copy_procedure.h"
#include "platform/installer_settings.h"
#include "platform/platform_services.h"

// The command line is not read.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  velmora::PlatformServices services = velmora::MakePlatformServices();
  velmora::InstallerSettings settings(*services.machineRegistry, *services.userSettings);
  velmora::WindowsVersion version(*services.versionSource);
  velmora::CopyProcedure procedure(*services.fileSystem, settings, version,
                                   services.pathSeparator);

  velmora::Win32CopyWindow window(procedure);
  procedure.SetProgressDisplay(window.runProgress());
  window.ShowModal();  // the program ends as soon as the window is closed
  return 0;
}
