#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "app/run_log.h"
#include "app/win32/win32_copy_window.h"
#include "copy/copy_procedure.h"
#include "platform/installer_settings.h"
#include "platform/platform_services.h"
#include "platform/win32/win32_text.h"
#include "tests/fakes/fake_copy_run.h"
#include "tests/fakes/fake_log_file.h"
#include "tests/fakes/held_calls.h"
#include "tests/fakes/sandbox_cd.h"
#include "tests/fakes/slow_source.h"
#include "tests/support/gate.h"
#include "tests/support/sandbox.h"
#include "tests/win32/window_probe.h"

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

// A run on fakes whose file system holds one call until the test lets it go, as a scratched CD
// or a stuck stick holds it: a copy (the run's third file), a listing, or the final flush.
class Win32WindowWhileACallBlocksTest : public ::testing::Test, protected testing::FakeCopyRun {
 protected:
  void SetUp() override { testing::LayOutSmallCd(*this); }
};

TEST_F(Win32WindowWhileACallBlocksTest, TheWindowAnswersIgnoresInputAndShowsTheFileUnderWay) {
  for (const testing::HeldCall& row : testing::HeldCalls()) {
    testing::HeldRun held(*this, row);
    Win32CopyWindow window(held.procedure);
    ASSERT_TRUE(window.Create());
    ShowWindow(window.window(), SW_SHOW);
    held.procedure.SetProgressDisplay(window.runProgress());
    SeenBox seen;
    g_window = &window;
    g_seen = &seen;
    const UINT_PTR answering = SetTimer(nullptr, 0, 20, &AnswerBox);
    SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return held.gate.reached(); })) << row.name;

    // The window's thread is free: questions sent 50 ms apart are each answered within 100 ms.
    testing::WindowProbe probe(window.window(), std::chrono::milliseconds(50), 10);
    probe.Finish();
    EXPECT_EQ(probe.questions().size(), 10u) << row.name;
    EXPECT_EQ(probe.Unanswered(), 0) << row.name;
    // Close requests, a click and a second Execute do nothing; the label shows the file.
    SendMessageW(window.window(), WM_CLOSE, 0, 0);
    SendMessageW(window.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
    SendMessageW(window.window(), WM_COMMAND,
                 MAKEWPARAM(Win32CopyWindow::kExecuteButtonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(window.executeButton()));
    PumpUntil([&] { return TextOf(window.progressLabel()) == row.label; }, 1000);
    EXPECT_EQ(TextOf(window.progressLabel()), row.label) << row.name;
    ASSERT_NE(window.window(), nullptr) << row.name;
    EXPECT_TRUE(IsWindowVisible(window.window())) << row.name;
    EXPECT_FALSE(seen.seen) << row.name;
    EXPECT_EQ(window.buttonColour(), kColourYellow) << row.name;
    EXPECT_TRUE(window.controller().runUnderWay()) << row.name;

    held.gate.Open();
    EXPECT_TRUE(PumpUntil([&] {
      return seen.seen && !window.controller().runUnderWay() && IsWindowEnabled(window.window());
    })) << row.name;
    KillTimer(nullptr, answering);
    EXPECT_EQ(seen.title, " Velmora") << row.name;
    EXPECT_EQ(held.fs.copyCount, 4) << row.name;  // one run only
    // After the run a close request closes the window.
    SendMessageW(window.window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(window.window(), nullptr) << row.name;
  }
}

// What the window asked of the system about the session's end.
struct SessionEndRecord {
  std::vector<std::string> calls;  // "create <reason>", "destroy"
  std::vector<HWND> windows;       // the window each call named
  std::vector<int> exits;
  std::function<void()> atExit;  // looks at what the program leaves as it ends
};

SessionEndCalls RecordedSessionEnd(SessionEndRecord& record, bool vistaOrLater) {
  SessionEndCalls calls;
  if (vistaOrLater) {
    calls.createBlockReason = [&record](HWND window, const wchar_t* reason) {
      record.calls.push_back("create " + WideToUtf8(reason));
      record.windows.push_back(window);
      return true;
    };
    calls.destroyBlockReason = [&record](HWND window) {
      record.calls.push_back("destroy");
      record.windows.push_back(window);
    };
  }
  calls.endProgram = [&record](int exitCode) {
    record.exits.push_back(exitCode);
    if (record.atExit) record.atExit();
  };
  return calls;
}

constexpr const char* kBlockReason = "create インストールＣＤからのコピーが進行中です。";

TEST(Win32SessionEndTest, TheSessionIsHeldOnlyWhileARunIsUnderWay) {
  struct Row {
    const char* name;
    bool vistaOrLater;
    const char* result;  // the run's
    std::vector<std::string> callsDuringRun;
    std::vector<std::string> callsAfterRun;
  };
  const Row rows[] = {
      {"Vista and later, a run that completes",
       true,
       "",
       {kBlockReason},
       {kBlockReason, "destroy"}},
      {"Vista and later, a run that fails", true, "x", {kBlockReason}, {kBlockReason, "destroy"}},
      {"XP, without the reason calls", false, "", {}, {}},
  };
  for (const Row& row : rows) {
    ScriptedRunner runner;
    testing::Gate gate;
    runner.during = [&gate] { gate.Pass(); };
    runner.nextResult = row.result;
    Win32CopyWindow window(runner);
    ASSERT_TRUE(window.Create());
    ShowWindow(window.window(), SW_SHOW);
    SessionEndRecord record;
    window.SetSessionEndCalls(RecordedSessionEnd(record, row.vistaOrLater));
    SeenBox seen;
    g_window = &window;
    g_seen = &seen;
    const UINT_PTR answering = SetTimer(nullptr, 0, 20, &AnswerBox);

    // Outside a run the session may end, and its end is left to the system.
    EXPECT_EQ(SendMessageW(window.window(), WM_QUERYENDSESSION, 0, 0), TRUE) << row.name;
    SendMessageW(window.window(), WM_ENDSESSION, TRUE, 0);
    EXPECT_TRUE(record.exits.empty()) << row.name;

    SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return gate.reached(); })) << row.name;
    EXPECT_EQ(SendMessageW(window.window(), WM_QUERYENDSESSION, 0, 0), FALSE) << row.name;
    EXPECT_EQ(SendMessageW(window.window(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), FALSE)
        << row.name;
    EXPECT_EQ(record.calls, row.callsDuringRun) << row.name;
    // An end of the session that was called off changes nothing.
    SendMessageW(window.window(), WM_ENDSESSION, FALSE, 0);
    EXPECT_TRUE(window.controller().runUnderWay()) << row.name;

    gate.Open();
    EXPECT_TRUE(PumpUntil([&] {
      return seen.seen && !window.controller().runUnderWay() && IsWindowEnabled(window.window());
    })) << row.name;
    KillTimer(nullptr, answering);
    EXPECT_EQ(record.calls, row.callsAfterRun) << row.name;
    for (HWND named : record.windows) EXPECT_EQ(named, window.window()) << row.name;
    EXPECT_TRUE(record.exits.empty()) << row.name;
    EXPECT_EQ(SendMessageW(window.window(), WM_QUERYENDSESSION, 0, 0), TRUE) << row.name;
  }
}

std::vector<std::string> FilesNamedLike(const std::string& folder, const std::string& part) {
  std::vector<std::string> found;
  std::error_code ignored;
  for (auto it = std::filesystem::recursive_directory_iterator(Utf8ToWide(folder), ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    const std::string name = WideToUtf8(it->path().filename().wstring());
    if (name.find(part) != std::string::npos) found.push_back(name);
  }
  return found;
}

bool IsFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The session ends in the middle of a slow copy on the real file system: the run stops at its
// next chunk, the partial copy goes, the record of the copy under way stays, the program ends
// well within the 5 s Windows gives it; the next run completes the copy.
TEST(Win32SessionEndTest, EndingTheSessionStopsACopyAndTheNextRunCompletesIt) {
  testing::SandboxCd cd(16, '\\');
  PlatformServices services = MakePlatformServices();
  volatile LONG slowChunks = 0;
  testing::SlowSource source(
      *services.fileSystem,
      [](std::string_view path) { return path.find("video.avi") != std::string_view::npos; },
      [&slowChunks] {
        InterlockedIncrement(&slowChunks);
        Sleep(40);  // a CD's next chunk is slow to arrive
      });
  const std::string root = cd.sandbox.Path("install/Velmora");
  const std::string partial = root + "\\Help\\video\\video.avi.velmora-partial";
  const std::string marker = root + "\\" + kCopyMarkerName;
  {
    CopyProcedure procedure(source, cd.settings, cd.version, '\\');
    Win32CopyWindow window(procedure);
    ASSERT_TRUE(window.Create());
    ShowWindow(window.window(), SW_SHOW);
    procedure.SetProgressDisplay(window.runProgress());
    SessionEndRecord record;
    window.SetSessionEndCalls(RecordedSessionEnd(record, true));
    SeenBox seen;
    g_window = &window;
    g_seen = &seen;
    const UINT_PTR answering = SetTimer(nullptr, 0, 20, &AnswerBox);
    SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return InterlockedCompareExchange(&slowChunks, 0, 0) >= 3; }));
    EXPECT_TRUE(IsFile(partial));  // the copy is under way
    EXPECT_TRUE(IsFile(marker));

    // What the program leaves behind is what stands when it ends.
    std::vector<std::string> partialsAtExit{"not ended"};
    bool markerAtExit = false;
    record.atExit = [&] {
      partialsAtExit = FilesNamedLike(cd.sandbox.Path("install"), "velmora-partial");
      markerAtExit = IsFile(marker);
    };
    EXPECT_EQ(SendMessageW(window.window(), WM_QUERYENDSESSION, 0, 0), FALSE);
    const auto sent = std::chrono::steady_clock::now();
    SendMessageW(window.window(), WM_ENDSESSION, TRUE, 0);
    const auto took = std::chrono::steady_clock::now() - sent;
    EXPECT_EQ(record.exits, std::vector<int>{kExitStopped});
    EXPECT_LT(took, std::chrono::milliseconds(1000)) << "the run did not stop at its next chunk";
    std::printf("the program was ended %lld ms after WM_ENDSESSION\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    const LONG chunksAtTheEnd = InterlockedCompareExchange(&slowChunks, 0, 0);
    // Nothing more of the run: no box, and the block reason goes with the run.
    PumpUntil([&] { return !window.controller().runUnderWay(); });
    PumpUntil([] { return false; }, 200);
    KillTimer(nullptr, answering);
    EXPECT_FALSE(seen.seen);
    EXPECT_EQ(record.calls, (std::vector<std::string>{kBlockReason, "destroy"}));
    EXPECT_EQ(InterlockedCompareExchange(&slowChunks, 0, 0), chunksAtTheEnd);
    EXPECT_EQ(procedure.ResultMessage, messages::kStopped);
    EXPECT_EQ(partialsAtExit, std::vector<std::string>{});
    EXPECT_TRUE(markerAtExit);
    EXPECT_FALSE(IsFile(root + "\\Help\\video\\video.avi"));
  }
  // The next run, as the next start of the program makes it.
  CopyProcedure next(*services.fileSystem, cd.settings, cd.version, '\\');
  Win32CopyWindow window(next);
  ASSERT_TRUE(window.Create());
  SeenBox seen;
  g_window = &window;
  g_seen = &seen;
  const UINT_PTR answering = SetTimer(nullptr, 0, 20, &AnswerBox);
  SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
  EXPECT_TRUE(PumpUntil([&] { return seen.seen && !window.controller().runUnderWay(); }));
  KillTimer(nullptr, answering);
  EXPECT_EQ(seen.title, " Velmora");
  EXPECT_TRUE(next.completingEarlierRun());
  EXPECT_TRUE(cd.sandbox.ReadFile("install/Velmora/Help/video/video.avi") == cd.video);
  EXPECT_FALSE(IsFile(marker));
}

// A run held in a call that does not come back in time still lets the program end within the
// 5 s: the window waits for the worker as long as it may, no longer, and the log says the program
// ended without the run.
TEST(Win32SessionEndTest, AWorkerHeldInACallDoesNotKeepTheProgramPastItsTime) {
  testing::FakeCopyRun run;
  run.registry.SetString("Software\\Velmora\\Info", "SetupDir", "E:\\");
  run.registry.SetString("Software\\Velmora\\Info", "SystemDir", "C:\\Velmora\\System");
  run.fs.AddFolder("C:");
  run.fs.AddFile("E:\\setup.exe");
  run.fs.AddFolder("E:\\PCMaster");
  run.fs.AddFile("E:\\System\\a.dat");
  run.fs.AddFile("E:\\System\\b.dat");
  testing::Gate gate;
  run.fs.beforeCopy = [&gate](int number) {
    if (number == 1) gate.Pass();
  };
  testing::FakeLogFile log;
  log.folders.insert("C:/logs");
  LoggedRun logged(run.procedure, log, "C:/logs/cdcopy.log", '/');
  Win32CopyWindow window(logged);
  ASSERT_TRUE(window.Create());
  SessionEndRecord record;
  record.atExit = [&log] {
    EXPECT_NE(log.files["C:/logs/cdcopy.log"].find("\ngiven up: "), std::string::npos);
    EXPECT_NE(log.files["C:/logs/cdcopy.log"].find("\nexit code: 5\n"), std::string::npos);
  };
  window.SetSessionEndCalls(RecordedSessionEnd(record, true));
  SendMessageW(window.executeButton(), BM_CLICK, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return gate.reached(); }));

  const auto sent = std::chrono::steady_clock::now();
  SendMessageW(window.window(), WM_ENDSESSION, TRUE, 0);
  const auto took = std::chrono::steady_clock::now() - sent;
  EXPECT_EQ(record.exits, std::vector<int>{kExitStopped});
  EXPECT_GE(took, kSessionEndWait - std::chrono::milliseconds(100));
  EXPECT_LT(took, std::chrono::milliseconds(5000));
  gate.Open();
  EXPECT_TRUE(PumpUntil([&] { return !window.controller().runUnderWay(); }));
  EXPECT_EQ(run.procedure.ResultMessage, messages::kStopped);
  EXPECT_FALSE(run.fs.Exists("C:\\Velmora\\System\\b.dat"));  // stopped before its next file
  EXPECT_TRUE(run.fs.Exists("C:\\Velmora\\" + std::string(kCopyMarkerName)));
}

}  // namespace
}  // namespace velmora
