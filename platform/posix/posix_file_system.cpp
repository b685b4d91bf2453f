#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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

PosixFileSystem::~PosixFileSystem() {
  EndListing();
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
  int error = 0;
  const EntryKind kind = KindOf(std::string(path), error);
  if (error != 0) return FsStatus{error};
  attributes = kind == EntryKind::kFolder ? kAttributeDirectory : 0;
  return {};
}

}  // namespace velmora

namespace velmora {
namespace {

// The temporary name a copy is written under: hidden, so no listing ever shows it.
std::string PartialCopyName(const std::string& destination) {
  const size_t slash = destination.rfind('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  return destination.substr(0, nameStart) + "." + destination.substr(nameStart) +
         ".velmora-partial";
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
  friend void swap(FileDescriptor& a, FileDescriptor& b) noexcept { std::swap(a.fd_, b.fd_); }
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

// Writes a large copy out to the disk as it goes, at most kInFlight behind: the end of a run
// then does not leave the flush gigabytes to write while the window waits, and the disk still
// has enough queued to write at its full pace. Small files are left to the flush at the end of
// the run, which writes them together.
class WriteBehind {
 public:
  static constexpr off_t kInFlight = off_t{32} << 20;

  WriteBehind(int out, off_t size)
      : out_(out), on_(size > static_cast<off_t>(ChunkPacer::kSmallest)) {}
  static constexpr off_t kWaitStep = off_t{1} << 20;

  void Written(off_t start, off_t length, CopyProgress& progress) {
    if (!on_) return;
    ::sync_file_range(out_, start, length, SYNC_FILE_RANGE_WRITE);
    const off_t settled = start + length - kInFlight;
    // Waited for a step at a time, with the window's messages processed between the steps: a
    // disk that has fallen behind would otherwise hold the window until it had caught up.
    while (waited_ < settled) {
      const off_t step = std::min(kWaitStep, settled - waited_);
      ::sync_file_range(
          out_, waited_, step,
          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
      waited_ += step;
      if (waited_ < settled) progress.ChunkCopied();
    }
  }

 private:
  int out_;
  bool on_;
  off_t waited_ = 0;
};

// Copies every byte, in the kernel where it can, in chunks that the pacer sizes, with `progress`
// between them; a source that changes size meanwhile is read to its end.
bool CopyContent(int in, int out, off_t size, ChunkPacer& pacer, CopyProgress& progress) {
  using Clock = std::chrono::steady_clock;
  off_t done = 0;
  bool kernelCopy = true;
  WriteBehind writeBehind(out, size);
  static thread_local std::vector<char> buffer;
  for (bool first = true;; first = false) {
    if (kernelCopy && done >= size) return true;
    if (!first && done < size) progress.ChunkCopied();  // none before the read that finds the end
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
    if (done > chunkStart) writeBehind.Written(chunkStart, done - chunkStart, progress);
    pacer.Took(static_cast<size_t>(done - chunkStart), Clock::now() - start);
  }
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
  // The source's permission bits travel with the copy (less the umask), as with the platform's
  // own copy: a read-only CD file arrives read-only.
  const mode_t mode = info.st_mode & 07777;

  if (flushWatch_ < 0)
    flushWatch_ = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);

  // Written as an unnamed file in the destination's folder: it is named only once it is whole,
  // and vanishes with the process when the copy is cut off. Where the file system has no
  // unnamed files, a hidden temporary name serves.
  const std::string partial = PartialCopyName(target);
  FileDescriptor out(::open(FolderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
  const bool unnamed = out.get() >= 0;
  if (!unnamed) {
    FileDescriptor named(OpenNew(partial, mode));
    if (named.get() < 0) return FsStatus{errno};
    swap(out, named);
  }

  const timespec times[2] = {info.st_atim, info.st_mtim};
  int error = 0;
  pacer_.StartFile();
  if (!CopyContent(in.get(), out.get(), info.st_size, pacer_, progress) ||
      ::futimens(out.get(), times) != 0) {
    error = errno;
  }
  bool named = !unnamed;
  if (error == 0 && unnamed) {
    const std::string self = "/proc/self/fd/" + std::to_string(out.get());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      if (out.Close()) return {};
      error = errno;  // a late write error: the copy is not whole
      ::unlink(target.c_str());
      return FsStatus{error};
    }
    // A file in the way: name the copy under the temporary name and replace it.
    ::unlink(partial.c_str());
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, partial.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      named = true;
    } else {
      error = errno;
    }
  }
  if (!out.Close() && error == 0) error = errno;  // a late write error
  if (error == 0 && ::rename(partial.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    if (named) ::unlink(partial.c_str());
    return FsStatus{error};
  }
  return {};
}

FsStatus PosixFileSystem::FlushCopies(std::string_view folder) {
  if (HasNul(folder)) return FsStatus{EINVAL};
  // One call for the whole file system: a flush per file would cost a journal commit per file,
  // many times the copy itself for a tree of small files. syncfs reports the write-back failures
  // since the descriptor it is given was opened, so the one opened at the first copy serves when
  // it lies on the same file system.
  FileDescriptor watch(std::exchange(flushWatch_, -1));
  FileDescriptor at(::open(std::string(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (at.get() < 0) return FsStatus{errno};
  struct stat watched {};
  struct stat asked {};
  const bool sameFileSystem = watch.get() >= 0 && ::fstat(watch.get(), &watched) == 0 &&
                              ::fstat(at.get(), &asked) == 0 && watched.st_dev == asked.st_dev;
  if (::syncfs(sameFileSystem ? watch.get() : at.get()) != 0) return FsStatus{errno};
  return {};
}

FsStatus PosixFileSystem::GetFileStamp(std::string_view path, FileStamp& stamp) {
  if (HasNul(path)) return FsStatus{EINVAL};
  struct stat info {};
  if (::stat(std::string(path).c_str(), &info) != 0) return FsStatus{errno};
  stamp.size = static_cast<uint64_t>(info.st_size);
  stamp.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
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
