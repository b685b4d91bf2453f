#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/fakes/fake_copy_run.h"
#include "tests/support/gate.h"

namespace velmora::testing {

// A small install CD on fakes for a run that goes through: the installer's records, setup.exe,
// PCMaster, and `files` in the CD's System folder, to C:\Velmora.
inline void LayOutSmallCd(FakeCopyRun& run, std::initializer_list<const char*> files = {
                                                "a.dat", "b.dat", "video.avi", "z.dat"}) {
  run.registry.SetString("Software\\Velmora\\Info", "SetupDir", "E:\\");
  run.registry.SetString("Software\\Velmora\\Info", "SystemDir", "C:\\Velmora\\System");
  run.fs.AddFolder("C:");
  run.fs.AddFile("E:\\setup.exe");
  run.fs.AddFolder("E:\\PCMaster");
  for (const char* name : files) run.fs.AddFile(std::string("E:\\System\\") + name);
}

// One call of a run on the small CD that the file system holds until the test lets it go, as a
// scratched CD or a stuck stick holds it.
struct HeldCall {
  const char* name;
  std::function<void(FakeFileSystem&, Gate&)> hold;
  const char* label;  // what the window shows meanwhile: the number of the file under way
};

// A copy (the video, the run's third file), the listing of the CD's Help folder, and the flush
// at the run's end.
inline std::vector<HeldCall> HeldCalls() {
  return {
      {"a copy",
       [](FakeFileSystem& f, Gate& gate) {
         f.beforeCopy = [&gate](int number) {
           if (number == 3) gate.Pass();
         };
       },
       "3"},
      {"a listing",
       [](FakeFileSystem& f, Gate& gate) {
         f.beforeListing = [&gate](const std::string& pattern) {
           if (pattern == "E:\\Help\\") gate.Pass();
         };
       },
       "4"},
      {"the flush",
       [](FakeFileSystem& f, Gate& gate) {
         f.beforeFlush = [&gate](const std::string&) { gate.Pass(); };
       },
       "4"},
  };
}

// A run of its own on a copy of `base`'s CD, with `base`'s records and no per-user settings,
// whose file system holds `call` at `gate`.
struct HeldRun {
  HeldRun(FakeCopyRun& base, const HeldCall& call)
      : fs(base.fs), settings(base.registry, user), procedure(fs, settings, base.version, '\\') {
    call.hold(fs, gate);
  }
  HeldRun(const HeldRun&) = delete;
  HeldRun& operator=(const HeldRun&) = delete;

  FakeFileSystem fs;
  Gate gate;
  FakeSettingsStore user;
  InstallerSettings settings;
  CopyProcedure procedure;
};

}  // namespace velmora::testing
