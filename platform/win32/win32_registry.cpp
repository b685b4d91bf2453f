#include "platform/win32/win32_registry.h"

#include <windows.h>

#include "platform/win32/win32_text.h"

namespace velmora {

long Win32Registry::OpenKeyForQuery(std::string_view subKey, RegKeyHandle& key) {
  HKEY opened = nullptr;
  const LONG result =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, Utf8ToAnsi(subKey).c_str(), 0, KEY_QUERY_VALUE, &opened);
  if (result == ERROR_SUCCESS) key = reinterpret_cast<RegKeyHandle>(opened);
  return result;
}

long Win32Registry::QueryValue(RegKeyHandle key, std::string_view valueName, uint32_t& type,
                               uint8_t* buffer, uint32_t& byteCount) {
  DWORD valueType = 0;
  DWORD count = byteCount;
  const LONG result = RegQueryValueExA(reinterpret_cast<HKEY>(key), Utf8ToAnsi(valueName).c_str(),
                                       nullptr, &valueType, buffer, &count);
  type = valueType;
  byteCount = count;
  return result;
}

long Win32Registry::CloseKey(RegKeyHandle key) { return RegCloseKey(reinterpret_cast<HKEY>(key)); }

std::string Win32Registry::NarrowToUtf8(std::string_view narrow) const { return AnsiToUtf8(narrow); }

}  // namespace velmora
