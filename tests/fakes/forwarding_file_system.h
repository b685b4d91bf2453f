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
  FsStatus GetAttributes(std::string_view p, uint32_t& a) override {
    return real_.GetAttributes(p, a);
  }
  FsStatus CreateFolder(std::string_view p) override { return real_.CreateFolder(p); }
  FsStatus CopyFileOver(std::string_view s, std::string_view d, CopyProgress& p) override {
    return real_.CopyFileOver(s, d, p);
  }
  FsStatus FlushCopies(std::string_view f) override { return real_.FlushCopies(f); }
  FsStatus GetFileStamp(std::string_view p, FileStamp& s) override {
    return real_.GetFileStamp(p, s);
  }
  std::string DescribeError(int error) const override { return real_.DescribeError(error); }

 protected:
  FileSystem& real_;
};

}  // namespace velmora::testing
