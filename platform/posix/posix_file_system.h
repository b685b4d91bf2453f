#pragma once

#include <dirent.h>

#include <string>

#include "platform/file_system.h"

namespace velmora {

// The file system through POSIX calls. A name that begins with "." is hidden; an entry that is
// neither a folder nor a regular file (a device, a pipe, a socket) counts as a system entry, so it
// is never listed nor copied.
class PosixFileSystem final : public FileSystem {
 public:
  ~PosixFileSystem() override;

  FsStatus FindFirst(std::string_view pattern, ListingFilter filter, std::string& name) override;
  FsStatus FindNext(std::string& name) override;
  FsStatus GetAttributes(std::string_view path, uint32_t& attributes) override;
  FsStatus CreateFolder(std::string_view path) override;
  FsStatus CopyFileOver(std::string_view source, std::string_view destination,
                        CopyProgress& progress) override;
  FsStatus FlushCopies(std::string_view folder) override;
  FsStatus GetFileStamp(std::string_view path, FileStamp& stamp) override;
  std::string DescribeError(int error) const override;

 private:
  void EndListing();

  DIR* listing_ = nullptr;
  ListingFilter filter_ = ListingFilter::kPlainFiles;
  std::string listedFolder_;
  // The entry the listing gave out last, as the folder recorded its type: its attributes are
  // asked for next, and need no second look-up.
  std::string lastEntryPath_;
  bool lastEntryIsFolder_ = false;
  int dotEntriesGiven_ = 0;
  ChunkPacer pacer_;
  // Opened on the destination's file system at the first copy after a flush: the flush reports
  // the write-back failures of that file system since then, and none from before it opened.
  int flushWatch_ = -1;
};

}  // namespace velmora
