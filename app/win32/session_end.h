#pragma once

#include <windows.h>

#include <chrono>
#include <functional>

namespace velmora {

// How long the end of a session waits for a run under way to stop: Windows ends a program that
// has not answered the session's end within 5 s.
inline constexpr std::chrono::milliseconds kSessionEndWait{4000};

// What the program asks of the system about the session's end; a test puts its own in place.
struct SessionEndCalls {
  // ShutdownBlockReasonCreate and ShutdownBlockReasonDestroy, both or neither (XP has none).
  // Each is called on the thread that made the window.
  std::function<bool(HWND, const wchar_t* reason)> createBlockReason;
  std::function<void(HWND)> destroyBlockReason;
  // Ends the program at once with the exit code (ExitProcess).
  std::function<void(int exitCode)> endProgram;
};

// The system's own, the Vista functions looked up at run time so the program loads on XP.
SessionEndCalls SystemSessionEndCalls();

}  // namespace velmora
