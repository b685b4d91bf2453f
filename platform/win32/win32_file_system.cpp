#include "platform/win32/win32_file_system.h"

#include <chrono>
#include <utility>

#include "platform/win32/win32_text.h"
#include "platform/windows_paths.h"

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

// A copy under way is written under its final name with this added, hidden.
constexpr const char* kPartialSuffix = ".velmora-partial";
constexpr size_t kLongestName = 255;  // UTF-16 units, on NTFS and FAT alike

// Where the copy of `path` is written while it is under way. A name too long to take the suffix
// within a name's limit is cut short first: a run copies one file at a time, so two names cut
// the same way never meet, and the leftovers' listing finds it by its suffix all the same.
std::wstring PartialPathOf(std::string_view path) {
  std::wstring partial = Win32FileSystem::SystemPath(std::string(path) + kPartialSuffix);
  const size_t suffixLength = Utf8ToWide(kPartialSuffix).size();
  const size_t nameStart = partial.find_last_of(L"\\/") + 1;  // 0 when there is no folder
  if (partial.size() - nameStart > kLongestName) {
    size_t cut = nameStart + kLongestName - suffixLength;
    if (IS_LOW_SURROGATE(partial[cut])) --cut;  // not between the halves of one character
    partial.erase(cut, partial.size() - suffixLength - cut);
  }
  return partial;
}

// A NUL would cut the path short at the system call: such a path names nothing.
bool HasNul(std::string_view path) { return path.find('\0') != std::string_view::npos; }
constexpr FsStatus kInvalidName{ERROR_INVALID_NAME};

}  // namespace

Win32FileSystem::~Win32FileSystem() { EndListing(); }

std::wstring Win32FileSystem::SystemPath(std::string_view path) {
  // CreateDirectoryW stops 12 characters short of MAX_PATH, to leave room for a file name (8.3).
  constexpr size_t kLongestPlainPath = MAX_PATH - 12;
  std::wstring wide = Utf8ToWide(path);
  if (wide.size() >= kLongestPlainPath) wide = Utf8ToWide(ExtendedLengthForm(path));
  return wide;
}

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
  const std::wstring path = SystemPath(pattern);
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
  const DWORD found = GetFileAttributesW(SystemPath(path).c_str());
  if (found == INVALID_FILE_ATTRIBUTES) return LastError();
  attributes = found;
  return {};
}

FsStatus Win32FileSystem::ClearReadOnly(std::string_view path) {
  if (HasNul(path)) return kInvalidName;
  const std::wstring wide = SystemPath(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
  const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  if (!SetFileAttributesW(wide.c_str(), writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL)) {
    return LastError();
  }
  return {};
}

}  // namespace velmora

namespace velmora {

FsStatus Win32FileSystem::CreateFolder(std::string_view path) {
  if (HasNul(path)) return kInvalidName;
  if (!CreateDirectoryW(SystemPath(path).c_str(), nullptr)) return LastError();
  return {};
}

namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() { return CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != FALSE; }

 private:
  HANDLE handle_;
};

// Every byte of `in` to `out`, in chunks that the pacer sizes, with `progress` between them.
// A large copy is flushed to the disk each time this much more of it has been written, so that
// the flush before it is named never has more than this to write while the window waits.
constexpr uint64_t kFlushEvery = uint64_t{8} << 20;

// `size` is what the source held when it was opened; one that changes meanwhile is read to its end.
// On failure the last error says why: ERROR_CANCELLED when the progress asked the copy to stop.
bool CopyContent(HANDLE in, HANDLE out, uint64_t size, ChunkPacer& pacer, std::vector<char>& buffer,
                 CopyProgress& progress) {
  using Clock = std::chrono::steady_clock;
  buffer.resize(ChunkPacer::kLargest);
  uint64_t done = 0;
  uint64_t flushed = 0;
  for (bool first = true;; first = false) {
    // None before the read that finds the end.
    if (!first && done < size && !progress.ChunkCopied()) {
      SetLastError(ERROR_CANCELLED);
      return false;
    }
    const Clock::time_point start = Clock::now();
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), static_cast<DWORD>(pacer.size()), &got, nullptr)) return false;
    if (got == 0) return true;
    done += got;
    for (DWORD written = 0; written < got;) {
      DWORD put = 0;
      if (!WriteFile(out, buffer.data() + written, got - written, &put, nullptr) || put == 0) {
        return false;
      }
      written += put;
    }
    if (done - flushed >= kFlushEvery) {
      if (!FlushFileBuffers(out)) return false;
      flushed = done;
    }
    pacer.Took(got, Clock::now() - start);
  }
}

}  // namespace

// A copy loop of its own rather than CopyFileExW with a progress routine: Wine's CopyFileExW
// never calls the routine, and the loop holds the copy's handle, so the copy is flushed to the
// disk before it is named, with no second open of a file that may be read-only by then.
FsStatus Win32FileSystem::CopyFileOver(std::string_view source, std::string_view destination,
                                       CopyProgress& progress) {
  if (HasNul(source) || HasNul(destination)) return kInvalidName;
  const std::wstring target = SystemPath(destination);
  const std::wstring partial = PartialPathOf(destination);
  const auto removePartial = [&partial] {
    SetFileAttributesW(partial.c_str(), FILE_ATTRIBUTE_NORMAL);  // it may carry read-only
    DeleteFileW(partial.c_str());
  };
  const auto failed = [&removePartial] {
    const FsStatus status = LastError();
    removePartial();
    return status;
  };

  // Shared as the platform's own copy shares its source.
  Handle in(CreateFileW(SystemPath(source).c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!in.valid()) return LastError();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(in.get(), &info)) return LastError();
  // A read-only file is not replaced; Windows refuses it at the rename, Wine would not.
  const DWORD existing = GetFileAttributesW(target.c_str());
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0) {
    return FsStatus{ERROR_ACCESS_DENIED};
  }

  removePartial();  // left by a copy that was cut off
  // Hidden while it is partial, so no listing shows it; it takes the source's attributes whole.
  Handle out(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!out.valid()) return LastError();
  const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  pacer_.StartFile();
  if (!CopyContent(in.get(), out.get(), size, pacer_, buffer_, progress) ||
      !SetFileTime(out.get(), nullptr, nullptr, &info.ftLastWriteTime) ||
      !FlushFileBuffers(out.get())) {
    const FsStatus status = LastError();  // before the close can change it
    out.Close();
    removePartial();
    return status;
  }
  if (!out.Close()) return failed();
  // The source's read-only attribute travels with the copy, as with the platform's own copy.
  const DWORD attributes =
      info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  if (!SetFileAttributesW(partial.c_str(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL) ||
      !MoveFileExW(partial.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return failed();
  }
  return {};
}

// Each copy was flushed before it was named, and named with write-through.
FsStatus Win32FileSystem::FlushCopies(std::string_view folder) {
  if (HasNul(folder)) return kInvalidName;
  if (GetFileAttributesW(SystemPath(folder).c_str()) == INVALID_FILE_ATTRIBUTES) return LastError();
  return {};
}

FsStatus Win32FileSystem::RemoveLeftoverCopies(std::string_view folder) {
  if (HasNul(folder)) return kInvalidName;
  const std::string base = std::string(folder) + "\\";
  WIN32_FIND_DATAW entry{};
  HANDLE found = FindFirstFileW(SystemPath(base + "*" + kPartialSuffix).c_str(), &entry);
  if (found == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return IsNotFound(error) ? FsStatus{} : FsStatus{static_cast<int>(error)};
  }
  std::vector<std::string> leftovers;
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      leftovers.push_back(WideToUtf8(entry.cFileName));
    }
  } while (FindNextFileW(found, &entry));
  FindClose(found);
  FsStatus status;
  for (const std::string& name : leftovers) {
    const std::wstring path = SystemPath(base + name);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // hidden, and maybe read-only
    if (!DeleteFileW(path.c_str()) && status.ok() && !IsNotFound(GetLastError())) {
      status = LastError();
    }
  }
  return status;
}

FsStatus Win32FileSystem::WriteHiddenFileDurably(std::string_view path, std::string_view content) {
  if (HasNul(path)) return kInvalidName;
  const std::wstring target = SystemPath(path);
  const std::wstring partial = PartialPathOf(path);
  // Written whole under another name with write-through, then named: a power loss leaves the
  // old file or the new, never a part of one.
  SetFileAttributesW(partial.c_str(), FILE_ATTRIBUTE_NORMAL);
  Handle out(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!out.valid()) return LastError();
  DWORD written = 0;
  if ((!content.empty() && (!WriteFile(out.get(), content.data(),
                                       static_cast<DWORD>(content.size()), &written, nullptr) ||
                            written != content.size())) ||
      !FlushFileBuffers(out.get())) {
    const FsStatus status = LastError();
    out.Close();
    SetFileAttributesW(partial.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(partial.c_str());
    return status;
  }
  out.Close();
  SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_HIDDEN);  // an old one may be read-only
  if (!MoveFileExW(partial.c_str(), target.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const FsStatus status = LastError();
    SetFileAttributesW(partial.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(partial.c_str());
    return status;
  }
  return {};
}

FsStatus Win32FileSystem::ReadSmallFile(std::string_view path, size_t limit,
                                        std::optional<std::string>& content) {
  if (HasNul(path)) return kInvalidName;
  Handle in(CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!in.valid()) {
    const DWORD error = GetLastError();
    if (!IsNotFound(error)) return FsStatus{static_cast<int>(error)};
    content.reset();
    return {};
  }
  std::string text(limit, '\0');
  DWORD got = 0;
  if (limit != 0 && !ReadFile(in.get(), text.data(), static_cast<DWORD>(limit), &got, nullptr)) {
    return LastError();
  }
  text.resize(got);
  content = std::move(text);
  return {};
}

FsStatus Win32FileSystem::RemoveFile(std::string_view path) {
  if (HasNul(path)) return kInvalidName;
  const std::wstring wide = SystemPath(path);
  SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only file is removed too
  if (!DeleteFileW(wide.c_str())) {
    const DWORD error = GetLastError();
    if (!IsNotFound(error)) return FsStatus{static_cast<int>(error)};
  }
  return {};
}

FsStatus Win32FileSystem::GetFileStamp(std::string_view path, FileStamp& stamp) {
  if (HasNul(path)) return kInvalidName;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) {
    return LastError();
  }
  stamp.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  stamp.modified =
      static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime);
  return {};
}

}  // namespace velmora

namespace velmora {

std::string Win32FileSystem::DescribeError(int error) const {
  // The system's message in the user's own language; where it has none in that language, in
  // whichever the system picks.
  const auto code = static_cast<DWORD>(error);
  wchar_t* text = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD length = 0;
  for (const DWORD language : {static_cast<DWORD>(LANG_USER_DEFAULT), DWORD{0}}) {
    length = FormatMessageW(flags, nullptr, code, language, reinterpret_cast<wchar_t*>(&text), 0,
                            nullptr);
    if (length != 0) break;
  }
  std::wstring message = length != 0 ? std::wstring(text, length) : std::wstring();
  if (text != nullptr) LocalFree(text);
  // One line: the message's own line breaks become blanks, trailing ones go.
  for (wchar_t& c : message) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  while (!message.empty() && message.back() == L' ') message.pop_back();
  if (message.empty()) return "エラー " + std::to_string(code);
  return WideToUtf8(message);
}

}  // namespace velmora
