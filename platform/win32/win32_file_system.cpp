#include "platform/win32/win32_file_system.h"

#include "platform/win32/win32_text.h"

namespace velmora {
namespace {

// Errors that mean "no such entry" rather than "cannot look".
bool IsNotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_NO_MORE_FILES;
}

// A file listed as if it were a folder: no entries, like a folder that does not exist. Windows
// answers ERROR_DIRECTORY, Wine ERROR_INVALID_NAME.
bool IsFileListedAsFolder(const std::wstring& folderWithSeparator, DWORD error) {
  if (error != ERROR_DIRECTORY && error != ERROR_INVALID_NAME) return false;
  const std::wstring folder = folderWithSeparator.substr(0, folderWithSeparator.size() - 1);
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

FsStatus LastError() { return FsStatus{static_cast<int>(GetLastError())}; }

// A NUL would cut the path short at the system call: such a path names nothing.
bool HasNul(std::string_view path) { return path.find('\0') != std::string_view::npos; }
constexpr FsStatus kInvalidName{ERROR_INVALID_NAME};

}  // namespace

Win32FileSystem::~Win32FileSystem() { EndListing(); }

void Win32FileSystem::EndListing() {
  if (listing_ != INVALID_HANDLE_VALUE) FindClose(listing_);
  listing_ = INVALID_HANDLE_VALUE;
}

bool Win32FileSystem::Passes(const WIN32_FIND_DATAW& entry) const {
  const DWORD attributes = entry.dwFileAttributes;
  if ((attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) return false;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
         filter_ == ListingFilter::kFoldersAndPlainFiles;
}

FsStatus Win32FileSystem::Settle(WIN32_FIND_DATAW& entry, bool advance, std::string& name) {
  while (advance || !Passes(entry)) {
    advance = false;
    if (!FindNextFileW(listing_, &entry)) {
      const DWORD error = GetLastError();
      EndListing();
      if (!IsNotFound(error)) return FsStatus{static_cast<int>(error)};
      name.clear();
      return {};
    }
  }
  name = WideToUtf8(entry.cFileName);
  return {};
}

FsStatus Win32FileSystem::FindFirst(std::string_view pattern, ListingFilter filter,
                                    std::string& name) {
  EndListing();
  if (HasNul(pattern)) return kInvalidName;
  const std::wstring path = Utf8ToWide(pattern);
  const bool folderListing = !path.empty() && path.back() == L'\\';
  WIN32_FIND_DATAW entry{};
  listing_ = FindFirstFileW(folderListing ? (path + L'*').c_str() : path.c_str(), &entry);
  if (listing_ == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (!IsNotFound(error) && !(folderListing && IsFileListedAsFolder(path, error))) {
      return FsStatus{static_cast<int>(error)};
    }
    name.clear();
    return {};
  }
  filter_ = filter;
  return Settle(entry, /*advance=*/false, name);
}

FsStatus Win32FileSystem::FindNext(std::string& name) {
  if (listing_ == INVALID_HANDLE_VALUE) {
    name.clear();
    return {};
  }
  WIN32_FIND_DATAW entry{};
  return Settle(entry, /*advance=*/true, name);
}

FsStatus Win32FileSystem::GetAttributes(std::string_view path, uint32_t& attributes) {
  if (HasNul(path)) return kInvalidName;
  const DWORD found = GetFileAttributesW(Utf8ToWide(path).c_str());
  if (found == INVALID_FILE_ATTRIBUTES) return LastError();
  attributes = found;
  return {};
}

}  // namespace velmora

namespace velmora {

FsStatus Win32FileSystem::CreateFolder(std::string_view path) {
  if (HasNul(path)) return kInvalidName;
  if (!CreateDirectoryW(Utf8ToWide(path).c_str(), nullptr)) return LastError();
  return {};
}

FsStatus Win32FileSystem::CopyFileOver(std::string_view source, std::string_view destination) {
  if (HasNul(source) || HasNul(destination)) return kInvalidName;
  const std::wstring target = Utf8ToWide(destination);
  const std::wstring partial = target + L".velmora-partial";
  const auto removePartial = [&partial] {
    SetFileAttributesW(partial.c_str(), FILE_ATTRIBUTE_NORMAL);  // it may carry read-only
    DeleteFileW(partial.c_str());
  };
  removePartial();  // left by a copy that was cut off
  if (!CopyFileW(Utf8ToWide(source).c_str(), partial.c_str(), FALSE)) {
    const FsStatus status = LastError();
    removePartial();
    return status;
  }
  if (!MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const FsStatus status = LastError();
    removePartial();
    return status;
  }
  return {};
}

FsStatus Win32FileSystem::GetFileStamp(std::string_view path, FileStamp& stamp) {
  if (HasNul(path)) return kInvalidName;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Utf8ToWide(path).c_str(), GetFileExInfoStandard, &data)) {
    return LastError();
  }
  stamp.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.modified = static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                        data.ftLastWriteTime.dwLowDateTime);
  return {};
}

}  // namespace velmora
