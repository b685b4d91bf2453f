#pragma once

#include "platform/file_system.h"

namespace velmora::testing {

// A real file system seen through a wrapper that changes one or two of its operations: every
// operation it does not override goes to `real` unchanged.
class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& real) : real_(real) {}

  FsStatus FindFirst(std::string_view p, ListingFilter f, std::string& n) override {
    return real_.FindFirst(p, f, n);
  }
  FsStatus FindNext(std::string& n) override { return real_.FindNext(n); }
  void EndListing() override { real_.EndListing(); }
  FsStatus GetAttributes(std::string_view p, uint32_t& a) override {
    return real_.GetAttributes(p, a);
  }
  FsStatus ClearReadOnly(std::string_view p) override { return real_.ClearReadOnly(p); }
  FsStatus CreateFolder(std::string_view p) override { return real_.CreateFolder(p); }
  FsStatus CopyFileOver(std::string_view s, std::string_view d, CopyProgress& p) override {
    return real_.CopyFileOver(s, d, p);
  }
  FsStatus FlushCopies(std::string_view f) override { return real_.FlushCopies(f); }
  std::vector<LostCopy> TakeLostCopies() override { return real_.TakeLostCopies(); }
  FsStatus RemoveLeftoverCopies(std::string_view f) override {
    return real_.RemoveLeftoverCopies(f);
  }
  FsStatus WriteHiddenFileDurably(std::string_view p, std::string_view c) override {
    return real_.WriteHiddenFileDurably(p, c);
  }
  FsStatus ReadSmallFile(std::string_view p, size_t l, std::optional<std::string>& c) override {
    return real_.ReadSmallFile(p, l, c);
  }
  FsStatus RemoveFile(std::string_view p) override { return real_.RemoveFile(p); }
  FsStatus GetFileStamp(std::string_view p, FileStamp& s) override {
    return real_.GetFileStamp(p, s);
  }
  std::string DescribeError(int error) const override { return real_.DescribeError(error); }

 protected:
  FileSystem& real_;
};

}  // namespace velmora::testing
