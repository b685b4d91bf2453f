#include "platform/win32/win32_settings_store.h"

#include <windows.h>

#include <vector>

#include "platform/win32/win32_text.h"

namespace velmora {
namespace {

std::wstring SectionKeyPath(std::string_view application, std::string_view section) {
  return L"Software\\VB and VBA Program Settings\\" + Utf8ToWide(application) + L"\\" +
         Utf8ToWide(section);
}

}  // namespace

bool Win32SettingsStore::Read(std::string_view application, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::string& value) {
  HKEY opened = nullptr;
  const LONG open = RegOpenKeyExW(HKEY_CURRENT_USER, SectionKeyPath(application, section).c_str(),
                                  0, KEY_QUERY_VALUE, &opened);
  if (open == ERROR_FILE_NOT_FOUND) {
    value = std::string(defaultValue);
    return true;
  }
  if (open != ERROR_SUCCESS) return false;

  const std::wstring name = Utf8ToWide(key);
  DWORD type = 0;
  DWORD size = 0;
  LONG query = RegQueryValueExW(opened, name.c_str(), nullptr, &type, nullptr, &size);
  bool ok = true;
  if (query == ERROR_FILE_NOT_FOUND) {
    value = std::string(defaultValue);
  } else if (query != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
    ok = false;
  } else {
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    query = RegQueryValueExW(opened, name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(data.data()), &size);
    ok = query == ERROR_SUCCESS;
    if (ok) {
      std::wstring text(data.data(), size / sizeof(wchar_t));
      while (!text.empty() && text.back() == L'\0') text.pop_back();
      value = WideToUtf8(text);
    }
  }
  RegCloseKey(opened);
  return ok;
}

bool Win32SettingsStore::Write(std::string_view application, std::string_view section,
                               std::string_view key, std::string_view text) {
  HKEY created = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, SectionKeyPath(application, section).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &created,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring data = Utf8ToWide(text);
  const LONG result =
      RegSetValueExW(created, Utf8ToWide(key).c_str(), 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(created);
  return result == ERROR_SUCCESS;
}

}  // namespace velmora
