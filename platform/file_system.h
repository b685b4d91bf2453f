#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

inline constexpr uint32_t kAttributeReadOnly = 0x1;

// What tells a copied file from one that still has to be copied.
struct FileStamp {
  static constexpr int64_t kTicksPerSecond = 10'000'000;
  uint64_t size = 0;
  int64_t modified = 0;  // 100-nanosecond ticks from the platform's own epoch
  bool operator==(const FileStamp&) const = default;

  // The same size, and times at most 2 s apart: FAT keeps times to 2 s, a CD to the second, so
  // a copy on a FAT disk can be a second off its source.
  bool Matches(const FileStamp& other) const {
    const int64_t apart =
        modified > other.modified ? modified - other.modified : other.modified - modified;
    return size == other.size && apart <= 2 * kTicksPerSecond;
  }
};

// What a copy under way reports between its chunks.
class CopyProgress {
 public:
  // False when the copy is to stop: it then fails and leaves no partial file behind.
  virtual bool ChunkCopied() = 0;

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

  // Ends the current listing, if any, so that nothing of it holds the drive (a CD with an open
  // listing cannot be ejected).
  virtual void EndListing() = 0;

  // kAttributeDirectory for a folder, kAttributeReadOnly for a file that cannot be written; on
  // Windows the rest of the platform's attributes too. On failure `attributes` is untouched.
  virtual FsStatus GetAttributes(std::string_view path, uint32_t& attributes) = 0;

  // Makes a read-only file writable again, and changes nothing else of it.
  virtual FsStatus ClearReadOnly(std::string_view path) = 0;

  // Creates one folder; its parent must exist.
  virtual FsStatus CreateFolder(std::string_view path) = 0;

  // Copies a file over `destination`, replacing a file of that name (on Windows not one that is
  // read-only, which the run makes writable first),
  // with the source's modification time and its read-only attribute. The copy is written under a
  // temporary name and takes its final name only once its data is on stable storage, so a name
  // never stands for a copy that is partial, or that a power loss could take back. The naming
  // may wait for the next FlushCopies, which then reports its failure. It goes in chunks that
  // each take some tens of milliseconds at most while the source delivers data, and calls
  // `progress` between them; when that answers false the copy stops and fails, leaving nothing.
  virtual FsStatus CopyFileOver(std::string_view source, std::string_view destination,
                                CopyProgress& progress) = 0;

  // Names every copy still waiting for its name, and puts every copy made so far into the file
  // system that holds `folder` on stable storage, names included: once this succeeds, a power
  // loss takes none of them back. On failure the copies not yet named are dropped.
  virtual FsStatus FlushCopies(std::string_view folder) = 0;

  // A copy that CopyFileOver reported as made, but that was lost before it could be named (the
  // disk failed its flush), with the system's error.
  struct LostCopy {
    std::string destination;
    int error = 0;
  };
  // The copies lost since the last call, in the order they were made.
  virtual std::vector<LostCopy> TakeLostCopies() = 0;

  // Removes what copies that were cut off left under their temporary names in `folder`.
  virtual FsStatus RemoveLeftoverCopies(std::string_view folder) = 0;

  // Creates or replaces the small hidden file `path` with `content`, and returns only once the
  // file, its content and its name are on stable storage.
  virtual FsStatus WriteHiddenFileDurably(std::string_view path, std::string_view content) = 0;

  // The content of the small file `path`, at most `limit` bytes of it; empty when there is no
  // such file (which is no failure). On failure `content` is untouched.
  virtual FsStatus ReadSmallFile(std::string_view path, size_t limit,
                                 std::optional<std::string>& content) = 0;

  // Removes the file `path`, read-only or hidden as it may be; a file that is not there is no
  // failure.
  virtual FsStatus RemoveFile(std::string_view path) = 0;

  // On failure `stamp` is untouched.
  virtual FsStatus GetFileStamp(std::string_view path, FileStamp& stamp) = 0;

  // The system's own reason for the error of a failed operation, in the user's language, on one
  // line ("ディスクに十分な空き領域がありません。"); never empty.
  virtual std::string DescribeError(int error) const = 0;
};

}  // namespace velmora
