#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/win32/win32_copy_window.h"
#include "copy/copy_procedure.h"
#include "platform/platform_services.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"
#include "tests/fakes/fake_version_source.h"
#include "tests/fakes/slow_source.h"
#include "tests/support/sandbox.h"

// The Win32 copy window stays responsive through a slow copy: Windows takes a window for hung
// when a message sent to it goes unanswered, and marks it "Not Responding". The real back-end
// copies in chunks, and the source takes its time between them, as a CD does.
namespace velmora {
namespace {

// A second thread asks the window what Windows asks it to tell whether it hangs.
struct Probe {
  HWND window = nullptr;
  volatile LONG stop = 0;
  int answered = 0;
  int unanswered = 0;
  DWORD longest = 0;  // ms

  static DWORD WINAPI Run(void* self) {
    auto* probe = static_cast<Probe*>(self);
    while (InterlockedCompareExchange(&probe->stop, 0, 0) == 0) {
      DWORD_PTR result = 0;
      const DWORD start = GetTickCount();
      if (SendMessageTimeoutW(probe->window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &result) != 0) {
        ++probe->answered;
      } else {
        ++probe->unanswered;
      }
      const DWORD took = GetTickCount() - start;
      if (took > probe->longest) probe->longest = took;
      Sleep(10);
    }
    return 0;
  }
};

BOOL CALLBACK PressOk(HWND candidate, LPARAM) {
  wchar_t className[16] = {};
  GetClassNameW(candidate, className, 16);
  if (std::wstring(className) != L"#32770" || !IsWindowVisible(candidate)) return TRUE;
  PostMessageW(candidate, WM_COMMAND, IDOK, 0);
  return FALSE;
}

// Presses OK in whatever message box the thread shows.
void CALLBACK AnswerBox(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), &PressOk, 0);
}

TEST(Win32ResponsiveTest, TheWindowAnswersThroughoutASlowCopy) {
  testing::Sandbox sandbox;
  sandbox.WriteFile("cd/setup.exe", "x");
  sandbox.MakeFolder("cd/PCMaster");
  sandbox.WriteFile("cd/System/quick.dat", "quick");
  const std::string video(24 << 20, 'v');
  sandbox.WriteFile("cd/Help/video/video.avi", video);
  sandbox.MakeFolder("install");
  testing::FakeRegistry registry;
  registry.SetString("Software\\Velmora\\Info", "SetupDir", sandbox.Path("cd") + "\\");
  registry.SetString("Software\\Velmora\\Info", "SystemDir",
                     sandbox.Path("install/Velmora/System"));
  testing::FakeSettingsStore store;
  testing::FakeVersionSource versionSource{testing::kWindowsXp};
  InstallerSettings settings(registry, store);
  WindowsVersion version(versionSource);
  PlatformServices services = MakePlatformServices();
  testing::SlowSource source(
      *services.fileSystem, [](std::string_view) { return true; },
      [] { Sleep(40); });  // the next chunk is slow to arrive
  CopyProcedure procedure(source, settings, version, '\\');

  Win32CopyWindow window(procedure);
  ASSERT_TRUE(window.Create());
  ShowWindow(window.window(), SW_SHOW);
  procedure.SetProgressDisplay(window.runProgress());

  // The run as the Execute handler makes it, the box at its end answered.
  Probe probe;
  probe.window = window.window();
  HANDLE thread = CreateThread(nullptr, 0, &Probe::Run, &probe, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  const UINT_PTR answering = SetTimer(nullptr, 0, 20, &AnswerBox);
  SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
  MSG message;
  while (window.controller().runUnderWay() || !IsWindowEnabled(window.window())) {
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) break;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  KillTimer(nullptr, answering);
  InterlockedExchange(&probe.stop, 1);
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);

  EXPECT_EQ(procedure.ResultMessage, "");
  EXPECT_TRUE(sandbox.ReadFile("install/Velmora/Help/video/video.avi") == video);
  // At least six chunks of at most 4 MiB, 40 ms apart: the copy took a quarter of a second at
  // least, and every question asked meanwhile was answered within 100 ms.
  ASSERT_GE(source.slowChunks, 5);
  EXPECT_EQ(probe.unanswered, 0);
  EXPECT_GE(probe.answered, 5);
  std::printf("chunks %d, questions answered %d, longest answer %lu ms\n", source.slowChunks,
              probe.answered, static_cast<unsigned long>(probe.longest));
}

}  // namespace
}  // namespace velmora
