#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "app/win32/win32_copy_window.h"
#include "copy/copy_procedure.h"
#include "platform/installer_settings.h"
#include "platform/platform_services.h"
#include "platform/win32/win32_text.h"

// The Win32 copy window for real, under Wine on a virtual display.
namespace velmora {
namespace {

std::string TextOf(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return WideToUtf8(text);
}

struct SeenBox {
  std::string title;
  std::string text;
  uint32_t buttonColour = 0;
  bool ownerDisabled = false;
  bool seen = false;
};

SeenBox* g_seen = nullptr;
Win32CopyWindow* g_window = nullptr;

BOOL CALLBACK FindBox(HWND candidate, LPARAM) {
  wchar_t className[16] = {};
  GetClassNameW(candidate, className, 16);
  if (std::wstring(className) != L"#32770" || !IsWindowVisible(candidate)) return TRUE;
  g_seen->title = TextOf(candidate);
  g_seen->text = TextOf(GetDlgItem(candidate, 0xFFFF));
  g_seen->buttonColour = g_window->buttonColour();
  g_seen->ownerDisabled = !IsWindowEnabled(g_window->window());
  g_seen->seen = true;
  PostMessageW(candidate, WM_COMMAND, IDOK, 0);
  return FALSE;
}

// Runs inside the message box's own loop: notes what the box shows and presses OK.
void CALLBACK AnswerBox(HWND, UINT, UINT_PTR, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), &FindBox, 0);
}

class ScriptedRunner final : public CopyRunner {
 public:
  void RunCopy() override {
    if (during) during();
    ResultMessage = nextResult;
    InterlockedIncrement(&runs);
  }
  void RequestStop() override {}
  int Runs() { return static_cast<int>(InterlockedCompareExchange(&runs, 0, 0)); }
  std::function<void()> during;  // on the run's own thread
  std::string nextResult;
  volatile LONG runs = 0;
};

// Handles the thread's messages until `done` answers true, at most `limit` milliseconds.
bool PumpUntil(const std::function<bool()>& done, DWORD limit = 20000) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > limit) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(1);
  }
  return true;
}

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window.Create());
    ShowWindow(window.window(), SW_SHOW);
    g_window = &window;
    g_seen = &seen;
    // Every box the window opens is answered, also one that a test expects never to see.
    answering_ = SetTimer(nullptr, 0, 20, &AnswerBox);
  }
  void TearDown() override { KillTimer(nullptr, answering_); }
  // Clicks Execute, and handles what follows until the run has ended and its box is answered.
  void PressExecute() {
    const int before = runner.Runs();
    SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
    EXPECT_TRUE(PumpUntil([&] {
      return runner.Runs() > before && !window.controller().runUnderWay() && seen.seen &&
             IsWindowEnabled(window.window());
    }));
  }

  UINT_PTR answering_ = 0;

  ScriptedRunner runner;
  Win32CopyWindow window{runner};
  SeenBox seen;
};

TEST_F(Win32WindowTest, OpensWithItsTextsAndLayout) {
  EXPECT_EQ(TextOf(window.window()), " Velmora");
  EXPECT_EQ(TextOf(window.instructionLabel()),
            "\u3000インストールＣＤより必要ファイルをコピーします。 ");
  EXPECT_EQ(TextOf(window.executeButton()), "実 行");
  EXPECT_EQ(TextOf(window.progressLabel()), "");
  const LONG style = GetWindowLongW(window.window(), GWL_STYLE);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  EXPECT_NE(style & WS_SYSMENU, 0);

  // Laid out at the display's real DPI, which the manifest lets the program see (the test runner
  // sets Wine's), not stretched from 96.
  const char* dpiSetting = std::getenv("VELMORA_WINE_DPI");
  const int dpi = dpiSetting != nullptr ? std::atoi(dpiSetting) : 96;
  struct Expected {
    int dpi;
    int clientWidth, clientHeight, buttonTop, buttonWidth, fontHeight;
  };
  // 6420 x 1515 twips, the button 942.5 twips down and 1275 wide, the face 9 points.
  const Expected table[] = {{96, 428, 101, 63, 85, -12}, {144, 642, 152, 95, 128, -18}};
  const Expected* expected = nullptr;
  for (const Expected& row : table) {
    if (row.dpi == dpi) expected = &row;
  }
  ASSERT_NE(expected, nullptr) << "no expected layout at " << dpi << " dots per inch";
  RECT client{};
  GetClientRect(window.window(), &client);
  EXPECT_EQ(client.right, expected->clientWidth);
  EXPECT_EQ(client.bottom, expected->clientHeight);
  RECT button{};
  GetWindowRect(window.executeButton(), &button);
  MapWindowPoints(nullptr, window.window(), reinterpret_cast<POINT*>(&button), 2);
  EXPECT_EQ(button.top, expected->buttonTop);
  EXPECT_EQ(button.right - button.left, expected->buttonWidth);
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window.executeButton(), WM_GETFONT, 0, 0)),
             sizeof font, &font);
  EXPECT_EQ(font.lfHeight, expected->fontHeight);
  EXPECT_EQ(font.lfCharSet, 128);
  RECT progress{};
  GetWindowRect(window.progressLabel(), &progress);
  MapWindowPoints(nullptr, window.window(), reinterpret_cast<POINT*>(&progress), 2);
  EXPECT_EQ(progress.left, button.left);
  EXPECT_EQ(progress.right, button.right);
}

TEST_F(Win32WindowTest, FailureBoxThenReadyAgain) {
  runner.nextResult = "\u3000コピー先のパスが不明です。";
  PressExecute();

  EXPECT_EQ(runner.Runs(), 1);
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, " 【 Err 】");
  EXPECT_EQ(seen.text, " \u3000コピー先のパスが不明です。\u3000");
  EXPECT_EQ(seen.buttonColour, kColourYellow);
  EXPECT_TRUE(seen.ownerDisabled);
  EXPECT_EQ(window.buttonColour(), kColourButtonFace);
  EXPECT_TRUE(IsWindowEnabled(window.executeButton()));
  EXPECT_TRUE(IsWindowEnabled(window.window()));
}

TEST_F(Win32WindowTest, SuccessLeavesTheButtonGreenAndDisabledAndClosingEndsTheLoop) {
  PressExecute();
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, " Velmora");
  EXPECT_EQ(seen.text, "\u3000インストールＣＤからファイルのコピーが終了しました。");
  EXPECT_EQ(window.buttonColour(), kColourGreen);
  EXPECT_FALSE(IsWindowEnabled(window.executeButton()));

  PostMessageW(window.window(), WM_CLOSE, 0, 0);
  window.ShowModal();  // returns once the window is closed
  EXPECT_EQ(window.window(), nullptr);
}

// Delivers a key to whatever has the keyboard focus (the window itself when nothing has), as
// the keyboard would, and handles what follows, a run and its message box included.
void PressKey(Win32CopyWindow& window, ScriptedRunner& runner, int runsAfter, WPARAM key) {
  HWND target = GetFocus() != nullptr ? GetFocus() : window.window();
  PostMessageW(target, WM_KEYDOWN, key, 1);
  PostMessageW(target, WM_KEYUP, key, 1 | (1u << 30) | (1u << 31));
  PumpUntil(
      [&] {
        return runner.Runs() == runsAfter && !window.controller().runUnderWay() &&
               IsWindowEnabled(window.window());
      },
      2000);
  PumpUntil([] { return false; }, 50);
}

TEST_F(Win32WindowTest, SpaceAndEnterOnTheFocusedButtonRunItAndNothingElseDoes) {
  runner.nextResult = "x";  // a failure: the button stays enabled for the next key
  SetActiveWindow(window.window());
  ASSERT_EQ(GetFocus(), window.executeButton());
  struct Row {
    const char* name;
    WPARAM key;
    int runsAfter;
  };
  const Row rows[] = {{"Space", VK_SPACE, 1},
                      {"Enter", VK_RETURN, 2},
                      {"Escape", VK_ESCAPE, 2},
                      {"Tab", VK_TAB, 2}};
  for (const Row& row : rows) {
    seen = {};
    PressKey(window, runner, row.runsAfter, row.key);
    EXPECT_EQ(runner.Runs(), row.runsAfter) << row.name;
    EXPECT_EQ(GetFocus(), window.executeButton()) << row.name;
  }
  // What the dialog manager would make of Enter and Escape, and clicks from elsewhere.
  SendMessageW(window.window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  SendMessageW(window.window(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  SendMessageW(window.window(), WM_COMMAND,
               MAKEWPARAM(Win32CopyWindow::kExecuteButtonId, BN_CLICKED), 0);
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(runner.Runs(), 2);
  EXPECT_NE(window.window(), nullptr);
}

TEST_F(Win32WindowTest, AfterASuccessNoKeyAndNoClickStartsAnything) {
  PressExecute();
  ASSERT_TRUE(seen.seen);
  ASSERT_EQ(runner.Runs(), 1);
  SetActiveWindow(window.window());
  for (WPARAM key : {VK_RETURN, VK_SPACE, VK_RETURN}) {
    PressKey(window, runner, 1, key);
    SendMessageW(window.executeButton(), WM_KEYDOWN, key, 1);
    SendMessageW(window.executeButton(), WM_KEYUP, key, 1 | (1u << 30) | (1u << 31));
  }
  SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
  SendMessageW(window.window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(runner.Runs(), 1);
  EXPECT_EQ(window.buttonColour(), kColourGreen);
  EXPECT_FALSE(IsWindowEnabled(window.executeButton()));
}

TEST_F(Win32WindowTest, TheButtonGetsTheFocusBackWhenTheWindowIsActivatedAgain) {
  SetActiveWindow(window.window());
  ASSERT_EQ(GetFocus(), window.executeButton());
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                               100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  SetActiveWindow(other);
  EXPECT_NE(GetFocus(), window.executeButton());
  SetActiveWindow(window.window());
  EXPECT_EQ(GetFocus(), window.executeButton());
  DestroyWindow(other);

  // And after a failed run's box has been closed.
  runner.nextResult = "x";
  PressExecute();
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(GetFocus(), window.executeButton());
}

TEST(Win32WindowRunTest, ExecuteAgainstStandInSettingsShowsTheDriveMessage) {
  // The per-user store names a CD drive that holds no install CD.
  PlatformServices services = MakePlatformServices();
  ASSERT_TRUE(services.userSettings->Write("Velmora", "Info", "SetupDir", "q:\\"));
  InstallerSettings settings(*services.machineRegistry, *services.userSettings);
  WindowsVersion version(*services.versionSource);
  CopyProcedure procedure(*services.fileSystem, settings, version, services.pathSeparator);
  Win32CopyWindow window(procedure);
  ASSERT_TRUE(window.Create());
  SeenBox seen;
  g_window = &window;
  g_seen = &seen;
  const UINT_PTR answering = SetTimer(nullptr, 0, 20, &AnswerBox);
  SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
  PumpUntil([&] { return seen.seen && !window.controller().runUnderWay(); });
  KillTimer(nullptr, answering);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Velmora");

  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, " 【 Err 】");
  EXPECT_EQ(seen.text, " Ｑ ドライブにインストールＣＤをセットして下さい。\u3000");
}

}  // namespace
}  // namespace velmora
