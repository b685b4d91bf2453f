#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/file_system.h"

namespace velmora {

// The file system through POSIX calls. A name that begins with "." is hidden; an entry that is
// neither a folder nor a regular file (a device, a pipe, a socket) counts as a system entry, so it
// is never listed nor copied.
class PosixFileSystem final : public FileSystem {
 public:
  PosixFileSystem();
  ~PosixFileSystem() override;

  FsStatus FindFirst(std::string_view pattern, ListingFilter filter, std::string& name) override;
  FsStatus FindNext(std::string& name) override;
  void EndListing() override;
  // For the entry the listing gave out last, only whether it is a folder: the listing tells that
  // without a look-up, and it is all a copy run asks of its source entries.
  FsStatus GetAttributes(std::string_view path, uint32_t& attributes) override;
  FsStatus ClearReadOnly(std::string_view path) override;
  FsStatus CreateFolder(std::string_view path) override;
  FsStatus CopyFileOver(std::string_view source, std::string_view destination,
                        CopyProgress& progress) override;
  FsStatus FlushCopies(std::string_view folder) override;
  std::vector<LostCopy> TakeLostCopies() override;
  FsStatus RemoveLeftoverCopies(std::string_view folder) override;
  FsStatus WriteHiddenFileDurably(std::string_view path, std::string_view content) override;
  FsStatus ReadSmallFile(std::string_view path, size_t limit,
                         std::optional<std::string>& content) override;
  FsStatus RemoveFile(std::string_view path) override;
  FsStatus GetFileStamp(std::string_view path, FileStamp& stamp) override;
  std::string DescribeError(int error) const override;

  // Copies wait under their temporary names until this many of them, or this many bytes, have
  // gathered; then one flush of the file system puts them all on the disk and they are named.
  // A read-only file in the way is replaced, as rename replaces it; a folder in the way makes the
  // copy one lost at its naming.
  static constexpr size_t kBatchFiles = 4096;
  static constexpr uint64_t kBatchBytes = uint64_t{256} << 20;

 private:
  struct WaitingCopy {
    std::string temporary;
    std::string target;
  };
  // Puts the waiting copies on the disk, then names them; on failure removes them.
  int NameWaitingCopies();
  int FlushFileSystem(int fd);

  DIR* listing_ = nullptr;
  ListingFilter filter_ = ListingFilter::kPlainFiles;
  std::string listedFolder_;
  // The entry the listing gave out last, as the folder recorded its type: its attributes are
  // asked for next, and need no second look-up.
  std::string lastEntryPath_;
  bool lastEntryIsFolder_ = false;
  int dotEntriesGiven_ = 0;
  ChunkPacer pacer_;
  std::vector<WaitingCopy> waiting_;
  uint64_t waitingBytes_ = 0;
  std::vector<LostCopy> lost_;
  std::string processId_;  // in the temporary names, which another process's never meet
  unsigned long temporaryCount_ = 0;
  // The file system of the folder copied into last.
  std::string deviceFolder_;
  dev_t folderDevice_ = 0;
  // Opened on the file system of the copies waiting to be named: its flush reports the write-back
  // failures of that file system since it opened, and none from before.
  int flushWatch_ = -1;
  dev_t flushWatchDevice_ = 0;
  // The first failure to put copies on the disk since the last FlushCopies, which reports it.
  int flushFailure_ = 0;
};

}  // namespace velmora
