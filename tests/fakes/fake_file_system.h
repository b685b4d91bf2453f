#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"

namespace velmora::testing {

// An in-memory file system with the listing rules of the real ones. Entries list in the order
// they were added. Operations on chosen paths can be told to fail.
class FakeFileSystem : public FileSystem {
 public:
  static constexpr int kErrorNotReady = 21;
  static constexpr int kErrorAccessDenied = 5;
  static constexpr int kErrorPathNotFound = 3;
  static constexpr int kErrorDiskFull = 112;
  static constexpr int kErrorAlreadyExists = 183;
  static constexpr int kErrorCancelled = 1223;

  explicit FakeFileSystem(char separator = '\\') : sep_(separator) {}

  void AddFolder(const std::string& path);
  // A folder with the hidden (or system) attribute, which no listing shows.
  void AddHiddenFolder(const std::string& path, bool system = false);
  // Adds the file and any folder above it that is missing.
  void AddFile(const std::string& path, const std::string& content = "data", bool hidden = false,
               bool system = false);
  void SetReadOnly(const std::string& path) { entries_.at(path).readOnly = true; }
  void SetModified(const std::string& path, int64_t modified) {
    entries_.at(path).modified = modified;
  }

  // Listings of `pattern` (exactly as passed) fail with `error`.
  void FailListing(const std::string& pattern, int error = kErrorNotReady) {
    listingFailures_[pattern] = error;
  }
  void FailAttributes(const std::string& path, int error = kErrorAccessDenied) {
    attributeFailures_[path] = error;
  }
  // Copies from or to `path` fail.
  void FailCopy(const std::string& path, int error = kErrorAccessDenied) {
    copyFailures_[path] = error;
  }
  void FailCreate(const std::string& path, int error = kErrorAccessDenied) {
    createFailures_[path] = error;
  }
  // FindNext fails once `name` has been given out by a listing of `pattern`.
  void FailNextAfter(const std::string& pattern, const std::string& name) {
    nextFailure_ = {pattern, name};
  }
  // Flushes fail with `error`.
  void FailFlush(int error = kErrorNotReady) { flushFailure_ = error; }
  // Removals of `path` fail.
  void FailRemove(const std::string& path, int error = kErrorAccessDenied) {
    removeFailures_[path] = error;
  }
  // Durable writes of `path` fail.
  void FailWrite(const std::string& path, int error = kErrorAccessDenied) {
    writeFailures_[path] = error;
  }
  void ClearFailures() {
    flushFailure_ = 0;
    listingFailures_.clear();
    attributeFailures_.clear();
    copyFailures_.clear();
    createFailures_.clear();
    writeFailures_.clear();
    removeFailures_.clear();
    nextFailure_ = {};
  }
  // Copies take their names only at the next flush, in the order they were made, as the Linux
  // back-end names them.
  bool namesWaitForTheFlush = false;
  // Copies fail with "disk full" once this many more content bytes have been written.
  void SetFreeSpace(uint64_t bytes) { freeSpace_ = bytes; }
  // Called before each copy with the copy's number, counted from 1.
  std::function<void(int)> beforeCopy;
  // The copy of `source` goes in `chunks` chunks, with the copy's progress between them; each
  // chunk first calls duringChunk (a test's clock moves on there).
  void CopyInChunks(const std::string& source, int chunks) { chunks_[source] = chunks; }
  std::function<void(const std::string& source)> duringChunk;
  // Called by each flush before it answers.
  std::function<void(const std::string& folder)> beforeFlush;
  // Called by each listing's start before it answers.
  std::function<void(const std::string& pattern)> beforeListing;

  bool IsReadOnly(const std::string& path) const {
    const auto it = entries_.find(path);
    return it != entries_.end() && it->second.readOnly;
  }
  int64_t Modified(const std::string& path) const { return entries_.at(path).modified; }
  // The files below `folder` that are not hidden, with their content, by path relative to it.
  std::map<std::string, std::string> FilesBelow(const std::string& folder) const;

  bool Exists(const std::string& path) const { return entries_.count(path) != 0; }
  bool IsFolder(const std::string& path) const {
    const auto it = entries_.find(path);
    return it != entries_.end() && it->second.folder;
  }
  std::string Content(const std::string& path) const {
    const auto it = entries_.find(path);
    return it == entries_.end() ? "<missing>" : it->second.content;
  }

  // Whether a listing was started and has not come to its end, nor been ended.
  bool listingOpen() const { return listingOpen_; }
  bool IsHidden(const std::string& path) const {
    const auto it = entries_.find(path);
    return it != entries_.end() && it->second.hidden;
  }

  FsStatus FindFirst(std::string_view pattern, ListingFilter filter, std::string& name) override;
  FsStatus FindNext(std::string& name) override;
  void EndListing() override { listingOpen_ = false; }
  FsStatus GetAttributes(std::string_view path, uint32_t& attributes) override;
  FsStatus ClearReadOnly(std::string_view path) override;
  FsStatus CreateFolder(std::string_view path) override;
  FsStatus CopyFileOver(std::string_view source, std::string_view destination,
                        CopyProgress& progress) override;
  FsStatus FlushCopies(std::string_view folder) override;
  std::vector<LostCopy> TakeLostCopies() override { return std::exchange(lostCopies, {}); }
  FsStatus RemoveLeftoverCopies(std::string_view folder) override;
  FsStatus WriteHiddenFileDurably(std::string_view path, std::string_view content) override;
  FsStatus ReadSmallFile(std::string_view path, size_t limit,
                         std::optional<std::string>& content) override;
  FsStatus RemoveFile(std::string_view path) override;
  FsStatus GetFileStamp(std::string_view path, FileStamp& stamp) override;
  // "reason <error>", so a test can tell which error a message names.
  std::string DescribeError(int error) const override { return "reason " + std::to_string(error); }

  std::vector<std::string> listedPatterns;
  std::vector<std::string> createdFolders;
  std::vector<std::string> flushedFolders;
  std::vector<std::string> cleanedFolders;  // where leftover copies were removed
  // What the file system was asked to do that the order of a run depends on, as readable lines:
  // "copy <destination>", "refused <destination>" (a file in the way that is not replaced),
  // "write <path>", "remove <path>", "flush <folder>", "clear <path>", "clean <folder>".
  std::vector<std::string> journal;
  int copyCount = 0;
  // What the next TakeLostCopies answers: copies a test declares lost after they were made.
  std::vector<LostCopy> lostCopies;

 protected:
  struct Entry {
    bool folder = false;
    bool hidden = false;
    bool system = false;
    std::string content;
    bool readOnly = false;
    int64_t modified = 0;
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
  std::map<std::string, int> copyFailures_;
  std::map<std::string, int> createFailures_;
  std::map<std::string, int> writeFailures_;
  std::map<std::string, int> removeFailures_;
  bool listingOpen_ = false;
  std::pair<std::string, std::string> nextFailure_;
  int flushFailure_ = 0;
  std::map<std::string, int> chunks_;
  std::string currentPattern_;
  uint64_t freeSpace_ = UINT64_MAX;
  // A minute between the times of two entries, so no two of them match as stamps.
  static constexpr int64_t kClockStep = 60 * FileStamp::kTicksPerSecond;
  int64_t clock_ = 1000;
  std::vector<std::string> pending_;
  std::vector<std::pair<std::string, Entry>> waitingForNames_;
  size_t next_ = 0;
};

}  // namespace velmora::testing
