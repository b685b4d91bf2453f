#pragma once

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
  virtual FsStatus CopyFileOver(std::string_view source, std::string_view destination) = 0;

  // On failure `stamp` is untouched.
  virtual FsStatus GetFileStamp(std::string_view path, FileStamp& stamp) = 0;
};

}  // namespace velmora
