#pragma once

#include <windows.h>

#include "app/win32/session_end.h"
#include "copy/copy_runner.h"
#include "platform/worker_thread.h"

namespace velmora {

// What stops an unattended run on Windows, as SIGTERM, SIGINT and SIGHUP stop one on Linux. The
// program has no window to be told by, so it watches:
//   - Ctrl+C and Ctrl+Break in the console it was started from (it attaches to that console);
//   - that console's closing;
//   - the end of the session and a close request (taskkill without /F), through a hidden
//     top-level window that answers WM_QUERYENDSESSION as the copy window does.
// The first of them asks the run to stop at its next file or chunk; its partial copy goes and its
// record stays for the next run. Windows ends the program as soon as a console's closing or the
// session's end has been handled, so those are held until Release, once the run has ended and
// logged itself, and then end the program with the run's code. A second Ctrl+C is left to the
// system, which ends the program at once. A Ctrl+C that the program's parent made it ignore stays
// ignored. From Vista on, a program without a visible window that refuses the session's end
// without giving a reason is ended outright: it refuses only with its reason given (or on XP),
// and otherwise stops the run when the session ends. One instance at a time.
class SilentRunStop {
 public:
  explicit SilentRunStop(CopyRunner& run, SessionEndCalls calls = SystemSessionEndCalls());
  ~SilentRunStop();  // releases with kExitStopped unless released before
  SilentRunStop(const SilentRunStop&) = delete;
  SilentRunStop& operator=(const SilentRunStop&) = delete;

  // True once a stop has been asked for.
  bool Asked() const;

  // The run has ended with `exitCode`, and said so: a console's closing or the session's end
  // held meanwhile ends the program now, with that code (SessionEndCalls::endProgram).
  void Release(int exitCode);

  // The console's handler, as the system calls it, on a thread of its own.
  static BOOL WINAPI OnConsoleControl(DWORD event);

  // The hidden window; null when it could not be made.
  HWND window() const { return window_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void WatchSession(HANDLE ready);  // on the window's own thread

  SessionEndCalls calls_;
  HWND window_ = nullptr;
  WorkerThread windowThread_;
};

}  // namespace velmora
