#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// The OS error of a failed file-system operation (0 = success), kept for diagnostics.
struct FsStatus {
  int error = 0;
  bool ok() const { return error == 0; }
};

enum class ListingFilter {
  kPlainFiles,            // files that are neither folders, hidden nor system
  kFoldersAndPlainFiles,  // the same, and folders ("." and ".." among them)
};

inline constexpr uint32_t kAttributeDirectory = 0x10;

// What tells a copied file from one that still has to be copied.
struct FileStamp {
  uint64_t size = 0;
  int64_t modified = 0;  // the platform's own ticks; compared only with each other
  bool operator==(const FileStamp&) const = default;
};

// What a copy under way reports between its chunks: the copy run lets the window repaint there.
class CopyProgress {
 public:
  virtual void ChunkCopied() = 0;

 protected:
  ~CopyProgress() = default;
};

// Sizes the chunks of a copy by the time each takes. A read from a CD at 2 MB/s blocks until its
// whole chunk has arrived, so a large chunk would hold the caller for seconds; a fast disk copies
// best in large chunks. Each file starts small (a CD seeks to every new file, and what came
// quickly from the cache says nothing of the drive); a chunk that came whole and quickly doubles
// the next, one that came slowly sizes the next by the rate it came at.
class ChunkPacer {
 public:
  static constexpr size_t kSmallest = size_t{64} << 10;
  static constexpr size_t kLargest = size_t{4} << 20;
  static constexpr std::chrono::milliseconds kQuick{10};
  static constexpr std::chrono::milliseconds kSlow{30};
  static constexpr std::chrono::milliseconds kAim{15};

  size_t size() const { return size_; }

  void StartFile() { size_ = kSmallest; }

  // `bytes` of a chunk of `size()` took `took`; fewer bytes than asked for is the file's end.
  void Took(size_t bytes, std::chrono::steady_clock::duration took) {
    if (bytes == 0) return;  // no data: nothing learnt of the source's pace
    if (took > kSlow) {
      // Straight to the size the source's rate gives for the aim, not one halving at a time.
      const uint64_t aim = std::chrono::nanoseconds(kAim).count();
      const uint64_t spent = static_cast<uint64_t>(std::chrono::nanoseconds(took).count());
      size_ = std::clamp(static_cast<size_t>(uint64_t{bytes} * aim / spent), kSmallest, size_);
    } else if (took < kQuick && bytes >= size_) {
      size_ = std::min(size_ * 2, kLargest);
    }
  }

 private:
  size_t size_ = kSmallest;
};

// The file system as the copy run sees it. Paths are UTF-8 with the platform's separator.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Starts a listing, ending any listing before it. `pattern` is either an exact path, which
  // yields its own last component when that entry passes the filter, or a folder followed by the
  // separator, which yields the folder's entries ("." and ".." first when the filter lets folders
  // through). Hidden and system entries are never listed. `name` is the first name, or empty when
  // nothing matches; a path that does not exist matches nothing and is no error. On failure (the
  // drive or folder cannot be read) `name` is untouched.
  virtual FsStatus FindFirst(std::string_view pattern, ListingFilter filter, std::string& name) = 0;

  // The next name of the current listing, or empty at its end. On failure `name` is untouched.
  virtual FsStatus FindNext(std::string& name) = 0;

  // On failure `attributes` is untouched.
  virtual FsStatus GetAttributes(std::string_view path, uint32_t& attributes) = 0;

  // Creates one folder; its parent must exist.
  virtual FsStatus CreateFolder(std::string_view path) = 0;

  // Copies a file over `destination`, replacing a file of that name, with the source's
  // modification time and its read-only attribute. The copy is written under a temporary name
  // first, so a copy that fails or is cut off never leaves a partial file under the final name.
  // It goes in chunks that each take some tens of milliseconds at most while the source
  // delivers data, and calls `progress` between them.
  virtual FsStatus CopyFileOver(std::string_view source, std::string_view destination,
                                CopyProgress& progress) = 0;

  // Puts every copy made so far into the file system that holds `folder` on stable storage:
  // once this succeeds, a power loss takes none of them back.
  virtual FsStatus FlushCopies(std::string_view folder) = 0;

  // On failure `stamp` is untouched.
  virtual FsStatus GetFileStamp(std::string_view path, FileStamp& stamp) = 0;

  // The system's own reason for the error of a failed operation, in the user's language, on one
  // line ("ディスクに十分な空き領域がありません。"); never empty.
  virtual std::string DescribeError(int error) const = 0;
};

}  // namespace velmora
