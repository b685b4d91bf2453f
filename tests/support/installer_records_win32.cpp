#include "tests/support/installer_records_win32.h"

#include <windows.h>

#include <cstdlib>

#include "platform/win32/win32_text.h"

namespace velmora::testing {
namespace {

// One argument quoted as the C runtime parses it back: backslashes are literal except before a
// quote, so those before a quote, and before the closing quote, are doubled.
std::wstring Quoted(const std::wstring& argument) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

bool RunReg(const std::wstring& arguments) {
  // The view this program reads with no view flag: the 32-bit one, where the 32-bit installer
  // writes, for the 32-bit product; the 64-bit one for the 64-bit build of its tests.
  const wchar_t* view = sizeof(void*) == 4 ? L" /reg:32" : L" /reg:64";
  std::wstring commandLine = L"reg.exe " + arguments + view;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, 60000);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return exitCode == 0;
}

}  // namespace

bool WriteInstallerValue(const std::string& name, const std::string& text) {
  return RunReg(L"add " + Quoted(L"HKLM\\Software\\Velmora\\Info") + L" /v " +
                Quoted(Utf8ToWide(name)) + L" /t REG_SZ /d " + Quoted(Utf8ToWide(text)) + L" /f");
}

void RemoveInstallerRecords() { RunReg(L"delete " + Quoted(L"HKLM\\Software\\Velmora") + L" /f"); }

std::string ReportedWineVersion() {
  const char* version = std::getenv("VELMORA_WINE_VERSION");
  return version != nullptr ? version : "";
}

}  // namespace velmora::testing
