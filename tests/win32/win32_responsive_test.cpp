#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "app/win32/win32_copy_window.h"
#include "copy/copy_procedure.h"
#include "platform/platform_services.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"
#include "tests/fakes/fake_version_source.h"
#include "tests/fakes/sandbox_cd.h"
#include "tests/fakes/slow_source.h"
#include "tests/support/sandbox.h"
#include "tests/win32/window_probe.h"

// The Win32 copy window stays responsive through a slow copy: Windows takes a window for hung
// when a message sent to it goes unanswered, and marks it "Not Responding". The real back-end
// copies in chunks, and the source takes its time between them, as a CD does.
namespace velmora {
namespace {

using Clock = std::chrono::steady_clock;

// The copy run, noting on its worker when it started and ended.
class TimedRun final : public CopyRunner {
 public:
  explicit TimedRun(CopyRunner& run) : run_(run) {}
  void RunCopy() override {
    started = Clock::now();
    run_.ResultMessage.clear();
    run_.RunCopy();
    ResultMessage = run_.ResultMessage;
    Outcome = run_.Outcome;
    ended = Clock::now();
  }
  void RequestStop() override { run_.RequestStop(); }
  Clock::time_point started{};
  Clock::time_point ended{};

 private:
  CopyRunner& run_;
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
  testing::SandboxCd cd(24, '\\');
  PlatformServices services = MakePlatformServices();
  testing::SlowSource source(
      *services.fileSystem, [](std::string_view) { return true; },
      [] { Sleep(40); });  // the next chunk is slow to arrive
  CopyProcedure procedure(source, cd.settings, cd.version, '\\');

  TimedRun run(procedure);
  Win32CopyWindow window(run);
  ASSERT_TRUE(window.Create());
  ShowWindow(window.window(), SW_SHOW);
  procedure.SetProgressDisplay(window.runProgress());

  // The run as the Execute handler makes it, the box at its end answered.
  testing::WindowProbe probe(window.window(), std::chrono::milliseconds(10));
  ASSERT_TRUE(probe.started());
  const UINT_PTR answering = SetTimer(nullptr, 0, 20, &AnswerBox);
  SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
  MSG message;
  while (window.controller().runUnderWay() || !IsWindowEnabled(window.window())) {
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) break;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  KillTimer(nullptr, answering);
  // The window's thread answers until the probe has ended: a question still on its way counts.
  probe.Finish();

  EXPECT_EQ(procedure.ResultMessage, "");
  EXPECT_TRUE(cd.sandbox.ReadFile("install/Velmora/Help/video/video.avi") == cd.video);
  // At least six chunks of at most 4 MiB, 40 ms apart: the copy took a quarter of a second at
  // least, and every question asked while it went on was answered within 100 ms. What comes after
  // the run, its box, is the system's: Wine without a window manager holds the thread up to 2 s
  // when it hides the box (its X11 driver waits for a withdrawn state that no one sets), which
  // Windows never does, so those questions are counted apart.
  ASSERT_GE(source.slowChunks, 5);
  int askedDuringRun = 0;
  int unansweredDuringRun = 0;
  int askedAfter = 0;
  int unansweredAfter = 0;
  std::chrono::milliseconds longest{0};
  for (const testing::WindowProbe::Question& question : probe.questions()) {
    if (question.asked < run.started) continue;
    if (question.asked <= run.ended) {
      ++askedDuringRun;
      if (!question.answered) ++unansweredDuringRun;
      longest = std::max(longest, question.took);
    } else {
      ++askedAfter;
      if (!question.answered) ++unansweredAfter;
    }
  }
  EXPECT_EQ(unansweredDuringRun, 0);
  EXPECT_GE(askedDuringRun, 5);
  std::printf(
      "chunks %d; during the run %d questions, %d unanswered, longest answer %lld ms; after it "
      "%d questions, %d unanswered\n",
      source.slowChunks, askedDuringRun, unansweredDuringRun,
      static_cast<long long>(longest.count()), askedAfter, unansweredAfter);
}

}  // namespace
}  // namespace velmora
