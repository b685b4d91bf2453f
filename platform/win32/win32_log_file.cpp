#include <windows.h>

#include "platform/log_file.h"
// After windows.h, which it builds on.
#include <shlobj.h>

#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_text.h"

namespace velmora {
namespace {

class Win32LogFile final : public LogFile {
 public:
  std::optional<uint64_t> Size(const std::string& path) override;
  bool MakeFolders(const std::string& path) override;
  bool Replace(const std::string& from, const std::string& to) override;
  // A new log begins with a byte-order mark, so Notepad on XP reads it as UTF-8.
  bool Append(const std::string& path, std::string_view text) override;
};

}  // namespace

std::optional<uint64_t> Win32LogFile::Size(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Win32FileSystem::SystemPath(path).c_str(), GetFileExInfoStandard,
                            &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool Win32LogFile::MakeFolders(const std::string& path) {
  // Each folder from the top down; those that are there already refuse harmlessly.
  for (size_t end = path.find_first_of("\\/", 3);; end = path.find_first_of("\\/", end + 1)) {
    CreateDirectoryW(Win32FileSystem::SystemPath(path.substr(0, end)).c_str(), nullptr);
    if (end == std::string::npos) break;
  }
  const DWORD attributes = GetFileAttributesW(Win32FileSystem::SystemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32LogFile::Replace(const std::string& from, const std::string& to) {
  return MoveFileExW(Win32FileSystem::SystemPath(from).c_str(),
                     Win32FileSystem::SystemPath(to).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool Win32LogFile::Append(const std::string& path, std::string_view text) {
  // Shared, so that a log that many computers append to, or one open in a viewer, takes the entry.
  HANDLE file = CreateFileW(Win32FileSystem::SystemPath(path).c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  std::string bytes;
  if (GetFileSizeEx(file, &size) && size.QuadPart == 0) bytes = "\xEF\xBB\xBF";
  // Notepad before Windows 10 ends lines only at CR LF.
  for (const char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  DWORD written = 0;
  const bool ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  return CloseHandle(file) != FALSE && ok;
}

std::string PlatformLogPath() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) {
    return {};
  }
  return WideToUtf8(folder) + "\\Velmora\\cdcopy.log";
}

std::unique_ptr<LogFile> MakePlatformLogFile() { return std::make_unique<Win32LogFile>(); }

}  // namespace velmora
