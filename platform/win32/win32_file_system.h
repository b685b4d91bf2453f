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
  void EndListing() override;
  FsStatus GetAttributes(std::string_view path, uint32_t& attributes) override;
  FsStatus ClearReadOnly(std::string_view path) override;
  FsStatus CreateFolder(std::string_view path) override;
  // Each copy is flushed before it is named, so FlushCopies has nothing left to do.
  FsStatus CopyFileOver(std::string_view source, std::string_view destination,
                        CopyProgress& progress) override;
  FsStatus FlushCopies(std::string_view folder) override;
  // None: a copy is named as soon as it is on the disk.
  std::vector<LostCopy> TakeLostCopies() override { return {}; }
  FsStatus RemoveLeftoverCopies(std::string_view folder) override;
  FsStatus WriteHiddenFileDurably(std::string_view path, std::string_view content) override;
  FsStatus ReadSmallFile(std::string_view path, size_t limit,
                         std::optional<std::string>& content) override;
  FsStatus RemoveFile(std::string_view path) override;
  FsStatus GetFileStamp(std::string_view path, FileStamp& stamp) override;
  std::string DescribeError(int error) const override;

  // A path as the wide calls take it: past MAX_PATH in the "\\?\" form, which has no such limit.
  static std::wstring SystemPath(std::string_view path);

 private:
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
