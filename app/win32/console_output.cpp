#include "app/win32/console_output.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include "platform/win32/win32_text.h"

namespace velmora {
namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != FALSE;
}

}  // namespace

bool AttachedToParentConsole() {
  static const bool attached = AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
  return attached;
}

std::vector<std::string> CommandLineArguments() {
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
  if (list == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(WideToUtf8(list[i]));
  LocalFree(list);
  return arguments;
}

void WriteLineToParent(OutputStream stream, std::string_view utf8) {
  const DWORD which = stream == OutputStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
  const bool attached = AttachedToParentConsole();
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    if (!attached) return;
    handle = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
  }
  const std::wstring wide = Utf8ToWide(utf8) + L"\r\n";
  DWORD written = 0;
  if (IsConsole(handle)) {
    WriteConsoleW(handle, wide.c_str(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  // A file or a pipe takes bytes: in the console's code page, as a program reading the console's
  // output expects them, or the system's ANSI code page where there is no console.
  const UINT codePage = attached ? GetConsoleOutputCP() : GetACP();
  const int size = WideCharToMultiByte(codePage, 0, wide.c_str(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0) return;
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(codePage, 0, wide.c_str(), static_cast<int>(wide.size()), bytes.data(), size,
                      nullptr, nullptr);
  WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace velmora
