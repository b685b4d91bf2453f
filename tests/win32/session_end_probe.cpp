// Ends the session for a running velmora-cdcopy as Windows does, and tells how the program took
// it: finds its window by class and title (the copy window, or the hidden one of an unattended
// run), asks WM_QUERYENDSESSION, then sends WM_ENDSESSION(TRUE) and measures how long the program
// takes to end.
//   session_end_probe.exe [window class [answer]]
// The class is VelmoraCopyWindow unless given; the answer expected of the query is 0 (FALSE, the
// session's end refused) unless given.
// Prints one line, "query <answer> ended-after-ms <n> exit-code <code>"; exits 0 when the query
// had the answer expected, and the program ended within 5 s with the code of a stopped run, else 1.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "app/exit_codes.h"

int wmain(int argc, wchar_t** argv) {
  const wchar_t* windowClass = argc > 1 ? argv[1] : L"VelmoraCopyWindow";
  const DWORD_PTR expectedAnswer = argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : FALSE;
  HWND window = FindWindowW(windowClass, L" Velmora");
  if (window == nullptr) {
    std::printf("no window of the class %ls\n", windowClass);
    return 1;
  }
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) {
    std::printf("cannot open the program's process (error %lu)\n", GetLastError());
    return 1;
  }
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer)) {
    std::printf("WM_QUERYENDSESSION went unanswered (error %lu)\n", GetLastError());
    return 1;
  }
  const ULONGLONG sent = GetTickCount64();
  DWORD_PTR ignored = 0;
  // The program ends inside its handling: the send fails once the window has gone.
  SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 10000, &ignored);
  const DWORD waited = WaitForSingleObject(process, 10000);
  const ULONGLONG took = GetTickCount64() - sent;
  DWORD exitCode = 0;
  GetExitCodeProcess(process, &exitCode);
  CloseHandle(process);
  std::printf("query %d ended-after-ms %llu exit-code %lu\n", static_cast<int>(answer),
              waited == WAIT_OBJECT_0 ? took : 0ULL, static_cast<unsigned long>(exitCode));
  std::fflush(stdout);
  return answer == expectedAnswer && waited == WAIT_OBJECT_0 && took < 5000 &&
                 exitCode == static_cast<DWORD>(velmora::kExitStopped)
             ? 0
             : 1;
}
