#pragma once

#include <string>

// The installer's records as the 32-bit Velmora installer leaves them: written by reg.exe in the
// 32-bit registry view (/reg:32), from a process of its own, never by the program under test.
namespace velmora::testing {

// HKEY_LOCAL_MACHINE\Software\Velmora\Info, value `name` = `text` (REG_SZ). False on failure.
bool WriteInstallerValue(const std::string& name, const std::string& text);
// Removes HKEY_LOCAL_MACHINE\Software\Velmora, if it is there.
void RemoveInstallerRecords();

// The Windows release Wine was told to report for this test run ("winxp", "vista", "win7",
// "win10"), from VELMORA_WINE_VERSION; empty when not told.
std::string ReportedWineVersion();

}  // namespace velmora::testing
