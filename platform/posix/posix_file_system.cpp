#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace velmora {
namespace {

enum class EntryKind { kNone, kFolder, kPlainFile, kOther };

bool IsNotFound(int error) { return error == ENOENT || error == ENOTDIR; }

// A NUL would cut the path short at the system call: such a path names nothing.
bool HasNul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

// Follows links, as the copy does.
EntryKind KindOf(const std::string& path, int& error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    error = errno;
    return EntryKind::kNone;
  }
  error = 0;
  if (S_ISDIR(info.st_mode)) return EntryKind::kFolder;
  if (S_ISREG(info.st_mode)) return EntryKind::kPlainFile;
  return EntryKind::kOther;
}

bool Passes(EntryKind kind, ListingFilter filter) {
  return kind == EntryKind::kPlainFile ||
         (kind == EntryKind::kFolder && filter == ListingFilter::kFoldersAndPlainFiles);
}

bool IsHiddenName(std::string_view name) { return !name.empty() && name.front() == '.'; }

}  // namespace

PosixFileSystem::PosixFileSystem() : processId_(std::to_string(::getpid())) {}

PosixFileSystem::~PosixFileSystem() {
  EndListing();
  // Copies never named are not left behind under their temporary names.
  for (const WaitingCopy& copy : waiting_) ::unlink(copy.temporary.c_str());
  if (flushWatch_ >= 0) ::close(flushWatch_);
}

void PosixFileSystem::EndListing() {
  if (listing_ != nullptr) ::closedir(listing_);
  listing_ = nullptr;
}

FsStatus PosixFileSystem::FindFirst(std::string_view pattern, ListingFilter filter,
                                    std::string& name) {
  EndListing();
  lastEntryPath_.clear();
  if (HasNul(pattern)) return FsStatus{EINVAL};
  const std::string path(pattern);
  if (!path.empty() && path.back() == '/') {
    listing_ = ::opendir(path.c_str());
    if (listing_ == nullptr) {
      if (!IsNotFound(errno)) return FsStatus{errno};
      name.clear();
      return {};
    }
    filter_ = filter;
    listedFolder_ = path;
    dotEntriesGiven_ = 0;
    return FindNext(name);
  }

  const size_t slash = path.rfind('/');
  const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  if (last.empty() || IsHiddenName(last)) {
    name.clear();
    return {};
  }
  int error = 0;
  const EntryKind kind = KindOf(path, error);
  if (error != 0 && !IsNotFound(error)) return FsStatus{error};
  name = Passes(kind, filter) ? last : std::string();
  return {};
}

FsStatus PosixFileSystem::FindNext(std::string& name) {
  if (listing_ == nullptr) {
    name.clear();
    return {};
  }
  // "." and ".." come first, as the listing promises, whatever order readdir gives them in.
  if (filter_ == ListingFilter::kFoldersAndPlainFiles && dotEntriesGiven_ < 2) {
    name = dotEntriesGiven_++ == 0 ? "." : "..";
    return {};
  }
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(listing_);
    if (entry == nullptr) {
      const int error = errno;
      EndListing();
      if (error != 0) return FsStatus{error};
      name.clear();
      return {};
    }
    const std::string entryName = entry->d_name;
    if (IsHiddenName(entryName)) continue;  // ".", ".." and hidden names
    // The entry's type as the folder records it; a link or an unknown type is looked up.
    EntryKind kind = EntryKind::kOther;
    if (entry->d_type == DT_REG) {
      kind = EntryKind::kPlainFile;
    } else if (entry->d_type == DT_DIR) {
      kind = EntryKind::kFolder;
    } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      int error = 0;
      kind = KindOf(listedFolder_ + entryName, error);
    }
    if (Passes(kind, filter_)) {
      name = entryName;
      lastEntryPath_ = listedFolder_ + entryName;
      lastEntryIsFolder_ = kind == EntryKind::kFolder;
      return {};
    }
  }
}

FsStatus PosixFileSystem::GetAttributes(std::string_view path, uint32_t& attributes) {
  if (HasNul(path)) return FsStatus{EINVAL};
  if (!lastEntryPath_.empty() && path == lastEntryPath_) {
    attributes = lastEntryIsFolder_ ? kAttributeDirectory : 0;
    return {};
  }
  struct stat info {};
  if (::stat(std::string(path).c_str(), &info) != 0) return FsStatus{errno};
  attributes = S_ISDIR(info.st_mode) ? kAttributeDirectory : 0;
  if (!S_ISDIR(info.st_mode) && (info.st_mode & 0222) == 0) attributes |= kAttributeReadOnly;
  return {};
}

FsStatus PosixFileSystem::ClearReadOnly(std::string_view path) {
  if (HasNul(path)) return FsStatus{EINVAL};
  const std::string p(path);
  struct stat info {};
  if (::stat(p.c_str(), &info) != 0) return FsStatus{errno};
  if (::chmod(p.c_str(), (info.st_mode & 07777) | S_IWUSR) != 0) return FsStatus{errno};
  return {};
}

}  // namespace velmora

namespace velmora {
namespace {

// Temporary names begin with this, and are hidden, so no listing ever shows them. They are short
// whatever the final name, which may itself take all 255 bytes a name can have.
constexpr std::string_view kTemporaryPrefix = ".velmora-partial.";
// The release before named a copy under way "." + name + ".velmora-partial".
constexpr std::string_view kOldTemporarySuffix = ".velmora-partial";

bool IsTemporaryName(std::string_view name) {
  return name.starts_with(kTemporaryPrefix) ||
         (name.size() > kOldTemporarySuffix.size() + 1 && name.front() == '.' &&
          name.ends_with(kOldTemporarySuffix));
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates `path` afresh for writing, replacing what a copy that was cut off left there.
int OpenNew(const std::string& path, mode_t mode) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0 && errno == EEXIST) {
    ::unlink(path.c_str());
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  }
  return fd;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, reporting a failed close (a late write error) as errno.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Writes a large copy out to the disk as it goes, at most kInFlight behind: the flush that comes
// before its name then has little left to write, and the disk still has enough queued to write
// at its full pace. Small files are left to that flush, which writes many of them together.
class WriteBehind {
 public:
  static constexpr off_t kInFlight = off_t{32} << 20;
  static constexpr off_t kWaitStep = off_t{1} << 20;

  WriteBehind(int out, off_t size)
      : out_(out), on_(size > static_cast<off_t>(ChunkPacer::kSmallest)) {}

  // False when the copy is to stop.
  bool Written(off_t start, off_t length, CopyProgress& progress) {
    if (!on_) return true;
    ::sync_file_range(out_, start, length, SYNC_FILE_RANGE_WRITE);
    const off_t settled = start + length - kInFlight;
    // Waited for a step at a time, with the progress told between the steps, so a copy that is
    // to stop does not first wait for a disk that has fallen behind.
    while (waited_ < settled) {
      const off_t step = std::min(kWaitStep, settled - waited_);
      ::sync_file_range(
          out_, waited_, step,
          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
      waited_ += step;
      if (waited_ < settled && !progress.ChunkCopied()) return false;
    }
    return true;
  }

 private:
  int out_;
  bool on_;
  off_t waited_ = 0;
};

// Copies every byte, in the kernel where it can, in chunks that the pacer sizes, with `progress`
// between them; a source that changes size meanwhile is read to its end. On failure errno says
// why: ECANCELED when the progress asked the copy to stop.
bool CopyContent(int in, int out, off_t size, ChunkPacer& pacer, CopyProgress& progress) {
  using Clock = std::chrono::steady_clock;
  const auto stop = [] {
    errno = ECANCELED;
    return false;
  };
  off_t done = 0;
  bool kernelCopy = true;
  WriteBehind writeBehind(out, size);
  static thread_local std::vector<char> buffer;
  for (bool first = true;; first = false) {
    if (kernelCopy && done >= size) return true;
    // None before the read that finds the end.
    if (!first && done < size && !progress.ChunkCopied()) return stop();
    const Clock::time_point start = Clock::now();
    const off_t chunkStart = done;
    if (kernelCopy) {
      const size_t chunk = std::min(pacer.size(), static_cast<size_t>(size - done));
      const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
      if (n > 0) {
        done += n;
      } else if (n == 0) {
        kernelCopy = false;  // the source ended early: read on to find its end
      } else if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
        kernelCopy = false;
      } else if (errno != EINTR) {
        return false;
      }
    } else {
      buffer.resize(ChunkPacer::kLargest);
      const ssize_t n = ::read(in, buffer.data(), pacer.size());
      if (n == 0) return true;
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += n;
      for (ssize_t written = 0; written < n;) {
        const ssize_t w = ::write(out, buffer.data() + written, static_cast<size_t>(n - written));
        if (w < 0) {
          if (errno == EINTR) continue;
          return false;
        }
        written += w;
      }
    }
    if (done > chunkStart && !writeBehind.Written(chunkStart, done - chunkStart, progress)) {
      return stop();
    }
    pacer.Took(static_cast<size_t>(done - chunkStart), Clock::now() - start);
  }
}

// Before Linux 5.8 syncfs reports no write-back failure: it answers success even when the disk
// answered EIO. There each copy is flushed on its own, whose failure is reported.
bool SyncfsReportsFailures() {
  static const bool reports = [] {
    utsname name{};
    if (::uname(&name) != 0) return false;
    unsigned major = 0;
    unsigned minor = 0;
    if (std::sscanf(name.release, "%u.%u", &major, &minor) != 2) return false;
    return major > 5 || (major == 5 && minor >= 8);
  }();
  return reports;
}

FsStatus WriteAll(int fd, std::string_view content) {
  for (size_t written = 0; written < content.size();) {
    const ssize_t w = ::write(fd, content.data() + written, content.size() - written);
    if (w < 0) {
      if (errno == EINTR) continue;
      return FsStatus{errno};
    }
    written += static_cast<size_t>(w);
  }
  return {};
}

FsStatus FlushFolder(const std::string& folder) {
  FileDescriptor at(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (at.get() < 0) return FsStatus{errno};
  if (::fsync(at.get()) != 0) return FsStatus{errno};
  return {};
}

}  // namespace

FsStatus PosixFileSystem::CreateFolder(std::string_view path) {
  if (HasNul(path)) return FsStatus{EINVAL};
  if (::mkdir(std::string(path).c_str(), 0777) != 0) return FsStatus{errno};
  return {};
}

FsStatus PosixFileSystem::CopyFileOver(std::string_view source, std::string_view destination,
                                       CopyProgress& progress) {
  if (HasNul(source) || HasNul(destination)) return FsStatus{EINVAL};
  const std::string target(destination);
  FileDescriptor in(::open(std::string(source).c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return FsStatus{errno};
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) return FsStatus{errno};
  if (!S_ISREG(info.st_mode)) return FsStatus{EINVAL};
  const std::string folder = FolderOf(target);
  const std::string temporary = folder + "/" + std::string(kTemporaryPrefix) + processId_ + "." +
                                std::to_string(++temporaryCount_);
  // The source's permission bits travel with the copy, less the umask, as with the platform's own
  // copy: a read-only CD file arrives read-only. The descriptor writes all the same.
  FileDescriptor out(OpenNew(temporary, info.st_mode & 0777));
  if (out.get() < 0) return FsStatus{errno};

  const timespec times[2] = {info.st_atim, info.st_mtim};
  int error = 0;
  pacer_.StartFile();
  if (!CopyContent(in.get(), out.get(), info.st_size, pacer_, progress) ||
      ::futimens(out.get(), times) != 0) {
    error = errno;
  }
  // The file system it lies on, looked up once a folder.
  if (error == 0 && folder != deviceFolder_) {
    struct stat written {};
    if (::fstat(out.get(), &written) == 0) {
      deviceFolder_ = folder;
      folderDevice_ = written.st_dev;
    } else {
      error = errno;
    }
  }
  // Before Linux 5.8 only a flush of the file itself reports a failure to write it.
  if (error == 0 && !SyncfsReportsFailures() && ::fdatasync(out.get()) != 0) error = errno;
  if (!out.Close() && error == 0) error = errno;  // a late write error
  if (error != 0) {
    ::unlink(temporary.c_str());
    return FsStatus{error};
  }

  // Copies on another file system than those waiting are named first, and their names put on
  // their disk: one flush covers one file system.
  if (flushWatch_ >= 0 && flushWatchDevice_ != folderDevice_) {
    int failure = NameWaitingCopies();
    if (failure == 0) failure = FlushFileSystem(flushWatch_);
    if (failure != 0 && flushFailure_ == 0) flushFailure_ = failure;
    ::close(std::exchange(flushWatch_, -1));
  }
  if (flushWatch_ < 0) {
    flushWatch_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    flushWatchDevice_ = folderDevice_;
  }
  waiting_.push_back({temporary, target});
  waitingBytes_ += static_cast<uint64_t>(info.st_size);
  if (waiting_.size() >= kBatchFiles || waitingBytes_ >= kBatchBytes) {
    if (const int failure = NameWaitingCopies(); failure != 0 && flushFailure_ == 0) {
      flushFailure_ = failure;
    }
  }
  return {};
}

std::vector<FileSystem::LostCopy> PosixFileSystem::TakeLostCopies() {
  return std::exchange(lost_, {});
}

int PosixFileSystem::FlushFileSystem(int fd) {
  if (fd < 0) return EBADF;
  return ::syncfs(fd) == 0 ? 0 : errno;
}

int PosixFileSystem::NameWaitingCopies() {
  if (waiting_.empty()) return 0;
  std::vector<WaitingCopy> copies = std::exchange(waiting_, {});
  waitingBytes_ = 0;
  // Their data on the disk first: a name then never stands for a copy a power loss takes back.
  const int flushed = SyncfsReportsFailures() ? FlushFileSystem(flushWatch_) : 0;
  int failure = flushed;
  for (const WaitingCopy& copy : copies) {
    if (flushed == 0 && ::rename(copy.temporary.c_str(), copy.target.c_str()) == 0) continue;
    const int error = flushed != 0 ? flushed : errno;
    if (failure == 0) failure = error;
    ::unlink(copy.temporary.c_str());
    lost_.push_back({copy.target, error});
  }
  return failure;
}

FsStatus PosixFileSystem::FlushCopies(std::string_view folder) {
  if (HasNul(folder)) return FsStatus{EINVAL};
  int failure = std::exchange(flushFailure_, 0);
  if (const int named = NameWaitingCopies(); failure == 0) failure = named;
  // The names on the disk too. The descriptor opened at the first copy reports the write-back
  // failures since then; the folder's own serves when the copies lie on another file system.
  FileDescriptor watch(std::exchange(flushWatch_, -1));
  FileDescriptor at(::open(std::string(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (at.get() < 0 && failure == 0) failure = errno;
  struct stat asked {};
  const bool sameFileSystem = watch.get() >= 0 && at.get() >= 0 && ::fstat(at.get(), &asked) == 0 &&
                              asked.st_dev == flushWatchDevice_;
  // The copies' file system, and the folder's when it is another.
  for (const int fd : {watch.get(), sameFileSystem ? -1 : at.get()}) {
    if (fd < 0) continue;
    if (const int flushed = FlushFileSystem(fd); failure == 0) failure = flushed;
  }
  return FsStatus{failure};
}

FsStatus PosixFileSystem::RemoveLeftoverCopies(std::string_view folder) {
  if (HasNul(folder)) return FsStatus{EINVAL};
  const std::string path(folder);
  DIR* listing = ::opendir(path.c_str());
  if (listing == nullptr) return IsNotFound(errno) ? FsStatus{} : FsStatus{errno};
  int failure = 0;
  std::vector<std::string> leftovers;
  while (const dirent* entry = ::readdir(listing)) {
    if (IsTemporaryName(entry->d_name)) leftovers.emplace_back(entry->d_name);
  }
  ::closedir(listing);
  for (const std::string& name : leftovers) {
    const std::string leftover = path + "/" + name;
    // Not one this program is still to name.
    if (std::any_of(waiting_.begin(), waiting_.end(),
                    [&](const WaitingCopy& c) { return c.temporary == leftover; })) {
      continue;
    }
    if (::unlink(leftover.c_str()) != 0 && errno != ENOENT && failure == 0) failure = errno;
  }
  return FsStatus{failure};
}

FsStatus PosixFileSystem::WriteHiddenFileDurably(std::string_view path, std::string_view content) {
  if (HasNul(path)) return FsStatus{EINVAL};
  const std::string target(path);
  // Written whole under another name, then named: a power loss leaves the old file or the new.
  const std::string temporary =
      FolderOf(target) + "/" + std::string(kTemporaryPrefix) + processId_ + ".record";
  FileDescriptor out(OpenNew(temporary, 0644));
  if (out.get() < 0) return FsStatus{errno};
  FsStatus status = WriteAll(out.get(), content);
  if (status.ok() && ::fsync(out.get()) != 0) status = FsStatus{errno};
  if (!out.Close() && status.ok()) status = FsStatus{errno};
  if (status.ok() && ::rename(temporary.c_str(), target.c_str()) != 0) status = FsStatus{errno};
  if (!status.ok()) {
    ::unlink(temporary.c_str());
    return status;
  }
  return FlushFolder(FolderOf(target));
}

FsStatus PosixFileSystem::ReadSmallFile(std::string_view path, size_t limit,
                                        std::optional<std::string>& content) {
  if (HasNul(path)) return FsStatus{EINVAL};
  FileDescriptor in(::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (in.get() < 0) {
    if (!IsNotFound(errno)) return FsStatus{errno};
    content.reset();
    return {};
  }
  struct stat info {};
  if (::fstat(in.get(), &info) != 0) return FsStatus{errno};
  if (!S_ISREG(info.st_mode)) return FsStatus{EISDIR};
  std::string text(limit, '\0');
  size_t got = 0;
  while (got < limit) {
    const ssize_t n = ::read(in.get(), text.data() + got, limit - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return FsStatus{errno};
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  text.resize(got);
  content = std::move(text);
  return {};
}

FsStatus PosixFileSystem::RemoveFile(std::string_view path) {
  if (HasNul(path)) return FsStatus{EINVAL};
  if (::unlink(std::string(path).c_str()) != 0 && !IsNotFound(errno)) return FsStatus{errno};
  return {};
}

FsStatus PosixFileSystem::GetFileStamp(std::string_view path, FileStamp& stamp) {
  if (HasNul(path)) return FsStatus{EINVAL};
  struct stat info {};
  if (::stat(std::string(path).c_str(), &info) != 0) return FsStatus{errno};
  stamp.size = static_cast<uint64_t>(info.st_size);
  stamp.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * FileStamp::kTicksPerSecond +
                   info.st_mtim.tv_nsec / 100;
  return {};
}

}  // namespace velmora

namespace velmora {

std::string PosixFileSystem::DescribeError(int error) const {
  // The window speaks Japanese: the reasons a user can act on are given in Japanese, as the
  // Japanese Windows words them; any other in the system's own words.
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return "ディスクに十分な空き領域がありません。";
    case EACCES:
    case EPERM:
      return "アクセスが拒否されました。";
    case EROFS:
      return "書き込み禁止のディスクです。";
    case EIO:
      return "デバイスの読み取りまたは書き込みでエラーが発生しました。";
    case ENOENT:
      return "指定されたファイルが見つかりません。";
    default:
      break;
  }
  const char* text = std::strerror(error);
  return text != nullptr && *text != '\0' ? text : "エラー " + std::to_string(error);
}

}  // namespace velmora
