#include "platform/win32/win32_file_system.h"

#include <chrono>
#include <utility>

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
bool CopyContent(HANDLE in, HANDLE out, uint64_t size, ChunkPacer& pacer, std::vector<char>& buffer,
                 CopyProgress& progress) {
  using Clock = std::chrono::steady_clock;
  buffer.resize(ChunkPacer::kLargest);
  uint64_t done = 0;
  uint64_t flushed = 0;
  for (bool first = true;; first = false) {
    if (!first && done < size) progress.ChunkCopied();  // none before the read that finds the end
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
  const std::wstring target = Utf8ToWide(destination);
  const std::wstring partial = target + L".velmora-partial";
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
  Handle in(CreateFileW(Utf8ToWide(source).c_str(), GENERIC_READ,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!in.valid()) return LastError();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(in.get(), &info)) return LastError();

  removePartial();  // left by a copy that was cut off
  Handle out(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
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
  if (GetFileAttributesW(Utf8ToWide(folder).c_str()) == INVALID_FILE_ATTRIBUTES) return LastError();
  return {};
}

FsStatus Win32FileSystem::GetFileStamp(std::string_view path, FileStamp& stamp) {
  if (HasNul(path)) return kInvalidName;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Utf8ToWide(path).c_str(), GetFileExInfoStandard, &data)) {
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
