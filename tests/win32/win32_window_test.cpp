#include <gtest/gtest.h>
#include <windows.h>

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
void CALLBACK AnswerBox(HWND, UINT, UINT_PTR timer, DWORD) {
  EnumThreadWindows(GetCurrentThreadId(), &FindBox, 0);
  if (g_seen->seen) KillTimer(nullptr, timer);
}

class ScriptedRunner final : public CopyRunner {
 public:
  void RunCopy() override {
    ++runs;
    if (during) during();
    ResultMessage = nextResult;
  }
  std::function<void()> during;
  std::string nextResult;
  int runs = 0;
};

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window.Create());
    ShowWindow(window.window(), SW_SHOW);
    g_window = &window;
    g_seen = &seen;
  }
  void PressExecute() {
    SetTimer(nullptr, 0, 20, &AnswerBox);
    SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
  }

  ScriptedRunner runner;
  Win32CopyWindow window{runner};
  SeenBox seen;
};

TEST_F(Win32WindowTest, OpensWithItsTextsAndLayout) {
  EXPECT_EQ(TextOf(window.window()), " Velmora");
  EXPECT_EQ(TextOf(window.instructionLabel()), "\u3000インストールＣＤより必要ファイルをコピーします。 ");
  EXPECT_EQ(TextOf(window.executeButton()), "実 行");
  EXPECT_EQ(TextOf(window.progressLabel()), "");
  const LONG style = GetWindowLongW(window.window(), GWL_STYLE);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  EXPECT_NE(style & WS_SYSMENU, 0);

  RECT client{};
  GetClientRect(window.window(), &client);
  EXPECT_EQ(client.right, 428);  // 6420 x 1515 twips at 96 dots per inch
  EXPECT_EQ(client.bottom, 101);
  RECT button{};
  GetWindowRect(window.executeButton(), &button);
  MapWindowPoints(nullptr, window.window(), reinterpret_cast<POINT*>(&button), 2);
  EXPECT_EQ(button.top, 63);
  EXPECT_EQ(button.right - button.left, 85);
  RECT progress{};
  GetWindowRect(window.progressLabel(), &progress);
  MapWindowPoints(nullptr, window.window(), reinterpret_cast<POINT*>(&progress), 2);
  EXPECT_EQ(progress.left, button.left);
  EXPECT_EQ(progress.right, button.right);
}

TEST_F(Win32WindowTest, FailureBoxThenReadyAgain) {
  bool disabledDuringRun = false;
  runner.during = [&] {
    disabledDuringRun = !IsWindowEnabled(window.window());
    SendMessageW(window.window(), WM_CLOSE, 0, 0);  // guarded while the run is under way
    window.SetProgressText("12");
    window.ProcessPendingMessages();
  };
  runner.nextResult = "\u3000コピー先のパスが不明です。";
  PressExecute();

  EXPECT_EQ(runner.runs, 1);
  EXPECT_TRUE(disabledDuringRun);
  ASSERT_NE(window.window(), nullptr);  // the close during the run did nothing
  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, " 【 Err 】");
  EXPECT_EQ(seen.text, " \u3000コピー先のパスが不明です。\u3000");
  EXPECT_EQ(seen.buttonColour, kColourYellow);
  EXPECT_TRUE(seen.ownerDisabled);
  EXPECT_EQ(window.buttonColour(), kColourButtonFace);
  EXPECT_TRUE(IsWindowEnabled(window.executeButton()));
  EXPECT_TRUE(IsWindowEnabled(window.window()));
  EXPECT_EQ(TextOf(window.progressLabel()), "12");
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
  SetTimer(nullptr, 0, 20, &AnswerBox);
  SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\VB and VBA Program Settings\\Velmora");

  ASSERT_TRUE(seen.seen);
  EXPECT_EQ(seen.title, " 【 Err 】");
  EXPECT_EQ(seen.text, " Ｑ ドライブにインストールＣＤをセットして下さい。\u3000");
}

}  // namespace
}  // namespace velmora
