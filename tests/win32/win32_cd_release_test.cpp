#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "copy/copy_procedure.h"
#include "platform/platform_services.h"
#include "platform/win32/win32_text.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"
#include "tests/fakes/fake_version_source.h"
#include "tests/fakes/forwarding_file_system.h"
#include "tests/support/gate.h"
#include "tests/support/sandbox.h"

// Once a run has ended, nothing of it holds the install CD, so it can be ejected: no listing of
// a CD folder stays open, whichever way the run ended. A folder with an open listing cannot be
// renamed (the listing's handle does not share deletion), so every CD folder is renamed and named
// back after the run, on the real file system, with the run's file system still alive.
namespace velmora {
namespace {

// The real file system, with a copy held before it starts when the test asks.
class HeldCopies final : public testing::ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  FsStatus CopyFileOver(std::string_view source, std::string_view destination,
                        CopyProgress& progress) override {
    if (beforeCopy) beforeCopy(source);
    return real_.CopyFileOver(source, destination, progress);
  }
  std::function<void(std::string_view source)> beforeCopy;  // on the run's thread
};

// The folders that cannot be renamed now, each with the system's error.
std::vector<std::string> FoldersHeld(const std::vector<std::string>& folders) {
  std::vector<std::string> held;
  for (const std::string& folder : folders) {
    const std::wstring path = Utf8ToWide(folder);
    const std::wstring moved = path + L".moved";
    if (!MoveFileW(path.c_str(), moved.c_str())) {
      held.push_back(folder + " (error " + std::to_string(GetLastError()) + ")");
    } else if (!MoveFileW(moved.c_str(), path.c_str())) {
      ADD_FAILURE() << "cannot name " << folder << " back";
    }
  }
  return held;
}

class Win32CdReleaseTest : public ::testing::Test {
 public:  // the rows' arrangements reach in
  void SetUp() override {
    sandbox.WriteFile("cd/setup.exe", "x");
    sandbox.WriteFile("cd/PCMaster/master.pcm", "m");
    sandbox.WriteFile("cd/System/a.dat", "a");
    sandbox.WriteFile("cd/System/b.dat", "b");
    sandbox.WriteFile("cd/Help/index.htm", "h");
    sandbox.WriteFile("cd/Help/video/v1.avi", "v1");
    sandbox.WriteFile("cd/Help/video/v2.avi", "v2");
    registry.SetString("Software\\Velmora\\Info", "SetupDir", sandbox.Path("cd") + "\\");
    CopyInto("install");
    for (const char* folder : {"cd/Help/video", "cd/Help", "cd/System", "cd/PCMaster", "cd"}) {
      cdFolders.push_back(sandbox.Path(folder));
    }
  }

  // A fresh destination under `folder`.
  void CopyInto(const std::string& folder) {
    sandbox.MakeFolder(folder);
    registry.SetString("Software\\Velmora\\Info", "SystemDir",
                       sandbox.Path(folder + "/Velmora/System"));
  }

  testing::Sandbox sandbox;
  testing::FakeRegistry registry;
  testing::FakeSettingsStore store;
  testing::FakeVersionSource versionSource{testing::kWindowsXp};
  InstallerSettings settings{registry, store};
  WindowsVersion version{versionSource};
  PlatformServices services = MakePlatformServices();
  HeldCopies fileSystem{*services.fileSystem};
  std::vector<std::string> cdFolders;
};

TEST_F(Win32CdReleaseTest, AFolderBeingListedIsHeldAndReleasedWithItsListing) {
  // What the check below sees: the run held in the middle of the video folder's listing.
  CopyProcedure procedure(fileSystem, settings, version, '\\');
  testing::Gate gate;
  fileSystem.beforeCopy = [&gate](std::string_view source) {
    if (source.find("v2.avi") != std::string_view::npos) gate.Pass();
  };
  WorkerThread worker;
  ASSERT_TRUE(worker.Start([&] { procedure.RunCopy(); }));
  ASSERT_TRUE(gate.WaitUntilReached());
  const std::vector<std::string> held = FoldersHeld(cdFolders);
  gate.Open();
  worker.Join();
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[0], sandbox.Path("cd/Help/video") + " (error 32)");  // a sharing violation
  EXPECT_EQ(procedure.ResultMessage, "");
  EXPECT_EQ(FoldersHeld(cdFolders), std::vector<std::string>{});
}

TEST_F(Win32CdReleaseTest, NoCdFolderIsHeldOnceARunHasEnded) {
  struct Row {
    const char* name;
    std::function<void(Win32CdReleaseTest&, CopyProcedure&)> arrange;
    RunOutcome outcome;
  };
  const Row rows[] = {
      {"a run that completes", [](auto&, auto&) {}, RunOutcome::kCompleted},
      {"a run whose copies fail",
       [](Win32CdReleaseTest& test, CopyProcedure&) {
         // Every copy into the video folder fails: a file stands where the folder should be.
         test.sandbox.WriteFile("install2/Velmora/Help/video", "in the way");
       },
       RunOutcome::kFailed},
      {"a run stopped in the middle of a folder",
       [](Win32CdReleaseTest& test, CopyProcedure& procedure) {
         test.fileSystem.beforeCopy = [&procedure](std::string_view source) {
           if (source.find("v1.avi") != std::string_view::npos) procedure.RequestStop();
         };
       },
       RunOutcome::kStopped},
      {"a run that finds no destination after the CD",
       [](Win32CdReleaseTest& test, CopyProcedure&) {
         test.registry.SetString("Software\\Velmora\\Info", "SystemDir",
                                 test.sandbox.Path("cd/setup.exe/Velmora/System"));
       },
       RunOutcome::kNotLocated},
  };
  int number = 0;
  for (const Row& row : rows) {
    CopyInto("install" + std::to_string(++number));  // or the next run would find the copy made
    store.values.clear();
    fileSystem.beforeCopy = nullptr;
    CopyProcedure procedure(fileSystem, settings, version, '\\');
    row.arrange(*this, procedure);
    WorkerThread worker;
    ASSERT_TRUE(worker.Start([&] { procedure.RunCopy(); }));
    worker.Join();
    EXPECT_EQ(procedure.Outcome, row.outcome) << row.name << ": " << procedure.ResultMessage;
    EXPECT_EQ(FoldersHeld(cdFolders), std::vector<std::string>{}) << row.name;
  }
}

}  // namespace
}  // namespace velmora
