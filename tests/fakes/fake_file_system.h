#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace velmora::testing {

// An in-memory file system with the listing rules of the real ones. Entries list in the order
// they were added. Operations on chosen paths can be told to fail.
class FakeFileSystem : public FileSystem {
 public:
  static constexpr int kErrorNotReady = 21;
  static constexpr int kErrorAccessDenied = 5;

  explicit FakeFileSystem(char separator = '\\') : sep_(separator) {}

  void AddFolder(const std::string& path);
  // Adds the file and any folder above it that is missing.
  void AddFile(const std::string& path, const std::string& content = "data", bool hidden = false,
               bool system = false);

  // Listings of `pattern` (exactly as passed) fail with `error`.
  void FailListing(const std::string& pattern, int error = kErrorNotReady) {
    listingFailures_[pattern] = error;
  }
  void FailAttributes(const std::string& path, int error = kErrorAccessDenied) {
    attributeFailures_[path] = error;
  }

  bool Exists(const std::string& path) const { return entries_.count(path) != 0; }
  bool IsFolder(const std::string& path) const {
    const auto it = entries_.find(path);
    return it != entries_.end() && it->second.folder;
  }
  std::string Content(const std::string& path) const {
    const auto it = entries_.find(path);
    return it == entries_.end() ? "<missing>" : it->second.content;
  }

  FsStatus FindFirst(std::string_view pattern, ListingFilter filter, std::string& name) override;
  FsStatus FindNext(std::string& name) override;
  FsStatus GetAttributes(std::string_view path, uint32_t& attributes) override;

  std::vector<std::string> listedPatterns;

 protected:
  struct Entry {
    bool folder = false;
    bool hidden = false;
    bool system = false;
    std::string content;
  };
  std::string Parent(const std::string& path) const;
  std::string LastComponent(const std::string& path) const;
  void Put(const std::string& path, Entry entry);

  char sep_;
  std::map<std::string, Entry> entries_;
  std::vector<std::string> order_;  // paths in the order they were added

 private:
  std::map<std::string, int> listingFailures_;
  std::map<std::string, int> attributeFailures_;
  std::vector<std::string> pending_;
  size_t next_ = 0;
};

}  // namespace velmora::testing
