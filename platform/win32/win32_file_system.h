#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/file_system.h"

namespace velmora {

// The file system through the wide Win32 calls, so names in any script work whatever the ANSI
// code page. FindFirstFileW matches by name only: hidden and system entries are filtered here.
class Win32FileSystem final : public FileSystem {
 public:
  ~Win32FileSystem() override;

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
  bool Passes(const WIN32_FIND_DATAW& entry) const;
  // Moves past `entry` when `advance`, then on to the first entry that passes the filter; ends
  // the listing when there is none.
  FsStatus Settle(WIN32_FIND_DATAW& entry, bool advance, std::string& name);

  HANDLE listing_ = INVALID_HANDLE_VALUE;
  ListingFilter filter_ = ListingFilter::kPlainFiles;
  ChunkPacer pacer_;
  std::vector<char> buffer_;
};

}  // namespace velmora
