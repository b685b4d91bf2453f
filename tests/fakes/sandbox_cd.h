#pragma once

#include <string>

#include "platform/installer_settings.h"
#include "platform/windows_version.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"
#include "tests/fakes/fake_version_source.h"
#include "tests/support/sandbox.h"

namespace velmora::testing {

// An install CD in a sandbox, for runs on the real file system: file 1 in System copies in a
// moment, file 2 is a video of `videoMiB` MiB in Help/video; the installer's records name it and
// a destination below install/ (Windows XP: nothing is moved).
struct SandboxCd {
  SandboxCd(size_t videoMiB, char separator) : video(videoMiB << 20, 'v') {
    sandbox.WriteFile("cd/setup.exe", "x");
    sandbox.MakeFolder("cd/PCMaster");
    sandbox.WriteFile("cd/System/quick.dat", "quick");
    sandbox.WriteFile("cd/Help/video/video.avi", video);
    sandbox.MakeFolder("install");
    registry.SetString("Software\\Velmora\\Info", "SetupDir", sandbox.Path("cd") + separator);
    registry.SetString("Software\\Velmora\\Info", "SystemDir",
                       sandbox.Path("install/Velmora/System"));
  }

  std::string video;
  Sandbox sandbox;
  FakeRegistry registry;
  FakeSettingsStore store;
  FakeVersionSource versionSource{kWindowsXp};
  InstallerSettings settings{registry, store};
  WindowsVersion version{versionSource};
};

}  // namespace velmora::testing
