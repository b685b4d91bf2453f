#pragma once

#include "copy/copy_procedure.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"
#include "tests/fakes/fake_version_source.h"
#include "tests/fakes/recording_progress.h"

namespace velmora::testing {

// A copy run on fakes only, on Windows XP with the Windows separator: the installer's records,
// the file system, and the display it shows its progress on.
struct FakeCopyRun {
  FakeRegistry registry;
  FakeSettingsStore store;
  FakeVersionSource versionSource{kWindowsXp};
  FakeFileSystem fs{'\\'};
  RecordingProgress progress;
  InstallerSettings settings{registry, store};
  WindowsVersion version{versionSource};
  CopyProcedure procedure{fs, settings, version, '\\'};
};

}  // namespace velmora::testing
