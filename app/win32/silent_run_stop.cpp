#include "app/win32/silent_run_stop.h"

#include <atomic>
#include <functional>

#include "app/copy_window_controller.h"
#include "app/exit_codes.h"
#include "app/win32/console_output.h"
#include "platform/win32/win32_text.h"

namespace velmora {
namespace {

constexpr wchar_t kClassName[] = L"VelmoraSilentRun";
// Posted by the destructor: the watch is over.
constexpr UINT kEndWatchMessage = WM_APP + 1;

// What the handlers touch. The console's handler runs on a thread the system makes, at any
// time, so none of it is freed: the event stays for the program's life.
std::atomic<CopyRunner*> g_run{nullptr};
std::atomic<bool> g_asked{false};
std::atomic<bool> g_refusesSessionEnd{false};
HANDLE g_released = nullptr;  // set once the program no longer needs holding
std::atomic<int> g_exitCode{kExitStopped};
std::function<void(int)> g_endProgram;  // set before any handler can run

// True for the first request.
bool AskStop() {
  const bool first = !g_asked.exchange(true);
  if (CopyRunner* run = g_run.load(); run != nullptr) run->RequestStop();
  return first;
}

// Windows ends the program when the handler returns: not before the run has ended, and then with
// the run's code.
void HoldUntilReleasedThenEnd() {
  WaitForSingleObject(g_released, INFINITE);
  g_endProgram(g_exitCode.load());
}

bool Released() { return WaitForSingleObject(g_released, 0) == WAIT_OBJECT_0; }

}  // namespace

SilentRunStop::SilentRunStop(CopyRunner& run, SessionEndCalls calls) : calls_(std::move(calls)) {
  if (g_released == nullptr) g_released = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ResetEvent(g_released);
  g_asked.store(false);
  g_refusesSessionEnd.store(false);
  g_exitCode.store(kExitStopped);
  g_endProgram = calls_.endProgram;
  g_run.store(&run);
  AttachedToParentConsole();
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);

  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ready != nullptr && windowThread_.Start([this, ready] { WatchSession(ready); })) {
    WaitForSingleObject(ready, INFINITE);
  }
  if (ready != nullptr) CloseHandle(ready);
}

SilentRunStop::~SilentRunStop() {
  // Released first: the handler of a console's closing holds the lock that removing it takes.
  if (!Released()) Release(kExitStopped);
  if (window_ != nullptr) PostMessageW(window_, kEndWatchMessage, 0, 0);
  windowThread_.Join();
  SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
  g_run.store(nullptr);
}

bool SilentRunStop::Asked() const { return g_asked.load(); }

void SilentRunStop::Release(int exitCode) {
  g_exitCode.store(exitCode);
  SetEvent(g_released);
}

BOOL WINAPI SilentRunStop::OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // A second one goes on to the system's own handling, which ends the program at once.
      return AskStop() ? TRUE : FALSE;
    default:  // the console closes: the program ends as soon as this returns
      AskStop();
      HoldUntilReleasedThenEnd();
      return TRUE;
  }
}

void SilentRunStop::WatchSession(HANDLE ready) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);  // fails harmlessly when a watch before registered it
  // Top-level, so that the session's end reaches it; never shown.
  HWND window = CreateWindowExW(0, kClassName, L" Velmora", WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
  window_ = window;
  SetEvent(ready);
  if (window == nullptr) return;
  const bool blocking =
      calls_.createBlockReason &&
      calls_.createBlockReason(window, Utf8ToWide(window_texts::kCopyUnderWayReason).c_str());
  g_refusesSessionEnd.store(blocking || !calls_.createBlockReason);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == kEndWatchMessage) break;
    DispatchMessageW(&message);
  }
  if (blocking) calls_.destroyBlockReason(window);
  DestroyWindow(window);
}

LRESULT CALLBACK SilentRunStop::WindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      return g_refusesSessionEnd.load() && !Released() ? FALSE : TRUE;
    case WM_ENDSESSION:
      if (wParam != FALSE && !Released()) {
        AskStop();
        HoldUntilReleasedThenEnd();
      }
      return 0;
    case WM_CLOSE:
      // Another program asks the run to end (taskkill without /F): it stops as on Ctrl+C, and
      // the watch's end takes the window away.
      AskStop();
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace velmora
