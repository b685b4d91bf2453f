#include "app/win32/session_end.h"

namespace velmora {

SessionEndCalls SystemSessionEndCalls() {
  SessionEndCalls calls;
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  using Create = BOOL(WINAPI*)(HWND, LPCWSTR);
  using Destroy = BOOL(WINAPI*)(HWND);
  const auto create = user32 == nullptr ? nullptr
                                        : reinterpret_cast<Create>(reinterpret_cast<void (*)()>(
                                              GetProcAddress(user32, "ShutdownBlockReasonCreate")));
  const auto destroy = user32 == nullptr
                           ? nullptr
                           : reinterpret_cast<Destroy>(reinterpret_cast<void (*)()>(
                                 GetProcAddress(user32, "ShutdownBlockReasonDestroy")));
  if (create != nullptr && destroy != nullptr) {  // both or neither
    calls.createBlockReason = [create](HWND window, const wchar_t* reason) {
      return create(window, reason) != FALSE;
    };
    calls.destroyBlockReason = [destroy](HWND window) { destroy(window); };
  }
  calls.endProgram = [](int exitCode) { ExitProcess(static_cast<UINT>(exitCode)); };
  return calls;
}

}  // namespace velmora
