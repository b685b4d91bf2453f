#include "tests/fakes/fake_file_system.h"

#include <algorithm>

namespace velmora::testing {

std::string FakeFileSystem::Parent(const std::string& path) const {
  const size_t last = path.rfind(sep_);
  return last == std::string::npos ? std::string() : path.substr(0, last);
}

std::string FakeFileSystem::LastComponent(const std::string& path) const {
  const size_t last = path.rfind(sep_);
  return last == std::string::npos ? path : path.substr(last + 1);
}

void FakeFileSystem::Put(const std::string& path, Entry entry) {
  if (entries_.count(path) == 0) order_.push_back(path);
  entries_[path] = std::move(entry);
}

void FakeFileSystem::AddFolder(const std::string& path) {
  const std::string parent = Parent(path);
  if (!parent.empty() && !Exists(parent)) AddFolder(parent);
  if (!Exists(path)) Put(path, Entry{true, false, false, {}});
}

void FakeFileSystem::AddHiddenFolder(const std::string& path, bool system) {
  AddFolder(Parent(path));
  Put(path, Entry{true, !system, system, {}});
}

void FakeFileSystem::AddFile(const std::string& path, const std::string& content, bool hidden,
                             bool system) {
  const std::string parent = Parent(path);
  if (!parent.empty() && !Exists(parent)) AddFolder(parent);
  Put(path, Entry{false, hidden, system, content, false, clock_ += kClockStep});
}

FsStatus FakeFileSystem::FindFirst(std::string_view pattern, ListingFilter filter,
                                   std::string& name) {
  const std::string path(pattern);
  listedPatterns.push_back(path);
  if (beforeListing) beforeListing(path);
  currentPattern_ = path;
  if (const auto failure = listingFailures_.find(path); failure != listingFailures_.end()) {
    return FsStatus{failure->second};
  }
  pending_.clear();
  next_ = 0;
  listingOpen_ = true;
  const auto passes = [filter](const Entry& e) {
    return !e.hidden && !e.system && (!e.folder || filter == ListingFilter::kFoldersAndPlainFiles);
  };
  if (!path.empty() && path.back() == sep_) {
    const std::string folder = path.substr(0, path.size() - 1);
    if (IsFolder(folder)) {
      if (filter == ListingFilter::kFoldersAndPlainFiles) pending_ = {".", ".."};
      for (const std::string& entryPath : order_) {
        if (Parent(entryPath) == folder && passes(entries_.at(entryPath))) {
          pending_.push_back(LastComponent(entryPath));
        }
      }
    }
  } else if (const auto it = entries_.find(path); it != entries_.end() && passes(it->second)) {
    pending_.push_back(LastComponent(path));
  }
  return FindNext(name);
}

FsStatus FakeFileSystem::FindNext(std::string& name) {
  if (next_ > 0 && currentPattern_ == nextFailure_.first && next_ - 1 < pending_.size() &&
      pending_[next_ - 1] == nextFailure_.second) {
    return FsStatus{kErrorNotReady};
  }
  if (!listingOpen_) {
    name.clear();
    return {};
  }
  name = next_ < pending_.size() ? pending_[next_++] : std::string();
  if (name.empty()) listingOpen_ = false;
  return {};
}

FsStatus FakeFileSystem::CreateFolder(std::string_view path) {
  const std::string p(path);
  if (const auto failure = createFailures_.find(p); failure != createFailures_.end()) {
    return FsStatus{failure->second};
  }
  if (Exists(p)) return FsStatus{kErrorAlreadyExists};
  const std::string parent = Parent(p);
  if (!parent.empty() && !IsFolder(parent)) return FsStatus{kErrorPathNotFound};
  Put(p, Entry{true, false, false, {}, false, clock_ += kClockStep});
  createdFolders.push_back(p);
  return {};
}

FsStatus FakeFileSystem::FlushCopies(std::string_view folder) {
  flushedFolders.emplace_back(folder);
  journal.push_back("flush " + flushedFolders.back());
  for (auto& [path, entry] : std::exchange(waitingForNames_, {})) Put(path, entry);
  if (beforeFlush) beforeFlush(flushedFolders.back());
  return FsStatus{flushFailure_};
}

FsStatus FakeFileSystem::RemoveLeftoverCopies(std::string_view folder) {
  const std::string prefix = std::string(folder) + sep_;
  cleanedFolders.emplace_back(folder);
  journal.push_back("clean " + cleanedFolders.back());
  for (auto it = entries_.begin(); it != entries_.end();) {
    const std::string& path = it->first;
    if (!it->second.folder && path.compare(0, prefix.size(), prefix) == 0 &&
        path.find(sep_, prefix.size()) == std::string::npos && path.ends_with(".velmora-partial")) {
      order_.erase(std::find(order_.begin(), order_.end(), path));
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  return {};
}

FsStatus FakeFileSystem::WriteHiddenFileDurably(std::string_view path, std::string_view content) {
  const std::string p(path);
  journal.push_back("write " + p);
  if (const auto failure = writeFailures_.find(p); failure != writeFailures_.end()) {
    return FsStatus{failure->second};
  }
  if (!IsFolder(Parent(p))) return FsStatus{kErrorPathNotFound};
  if (IsFolder(p)) return FsStatus{kErrorAccessDenied};
  Put(p, Entry{false, true, false, std::string(content), false, clock_ += kClockStep});
  return {};
}

FsStatus FakeFileSystem::ReadSmallFile(std::string_view path, size_t limit,
                                       std::optional<std::string>& content) {
  const auto it = entries_.find(std::string(path));
  if (it == entries_.end()) {
    content.reset();
    return {};
  }
  if (it->second.folder) return FsStatus{kErrorAccessDenied};
  content = it->second.content.substr(0, limit);
  return {};
}

FsStatus FakeFileSystem::RemoveFile(std::string_view path) {
  const std::string p(path);
  journal.push_back("remove " + p);
  if (const auto failure = removeFailures_.find(p); failure != removeFailures_.end()) {
    return FsStatus{failure->second};
  }
  const auto it = entries_.find(p);
  if (it == entries_.end()) return {};
  if (it->second.folder) return FsStatus{kErrorAccessDenied};
  order_.erase(std::find(order_.begin(), order_.end(), p));
  entries_.erase(it);
  return {};
}

FsStatus FakeFileSystem::ClearReadOnly(std::string_view path) {
  const std::string p(path);
  journal.push_back("clear " + p);
  const auto it = entries_.find(p);
  if (it == entries_.end()) return FsStatus{2};
  it->second.readOnly = false;
  return {};
}

FsStatus FakeFileSystem::CopyFileOver(std::string_view source, std::string_view destination,
                                      CopyProgress& progress) {
  const std::string from(source);
  const std::string to(destination);
  // As the platform's copy: a read-only or hidden file in the way is not replaced, and that is
  // known before anything is read.
  if (const auto copied = entries_.find(from); copied != entries_.end() && !copied->second.folder) {
    if (const auto existing = entries_.find(to);
        existing != entries_.end() && !existing->second.folder &&
        (existing->second.readOnly || existing->second.hidden)) {
      journal.push_back("refused " + to);
      return FsStatus{kErrorAccessDenied};
    }
  }
  ++copyCount;
  journal.push_back("copy " + to);
  if (beforeCopy) beforeCopy(copyCount);
  const auto chunks = chunks_.find(from);
  for (int chunk = 0; chunk < (chunks == chunks_.end() ? 1 : chunks->second); ++chunk) {
    if (chunk > 0 && !progress.ChunkCopied()) return FsStatus{kErrorCancelled};
    if (duringChunk) duringChunk(from);
  }
  for (const std::string* p : {&from, &to}) {
    if (const auto failure = copyFailures_.find(*p); failure != copyFailures_.end()) {
      return FsStatus{failure->second};
    }
  }
  const auto it = entries_.find(from);
  if (it == entries_.end() || it->second.folder) return FsStatus{2};
  if (!IsFolder(Parent(to))) return FsStatus{kErrorPathNotFound};
  if (IsFolder(to)) return FsStatus{kErrorAccessDenied};
  if (it->second.content.size() > freeSpace_) {
    freeSpace_ = 0;
    return FsStatus{kErrorDiskFull};
  }
  if (freeSpace_ != UINT64_MAX) freeSpace_ -= it->second.content.size();
  Entry copy = it->second;
  copy.hidden = copy.system = false;
  if (namesWaitForTheFlush) {
    waitingForNames_.emplace_back(to, copy);
  } else {
    Put(to, copy);
  }
  return {};
}

FsStatus FakeFileSystem::GetFileStamp(std::string_view path, FileStamp& stamp) {
  const auto it = entries_.find(std::string(path));
  if (it == entries_.end() || it->second.folder) return FsStatus{2};
  stamp = FileStamp{it->second.content.size(), it->second.modified};
  return {};
}

std::map<std::string, std::string> FakeFileSystem::FilesBelow(const std::string& folder) const {
  std::map<std::string, std::string> files;
  const std::string prefix = folder + sep_;
  for (const auto& [path, entry] : entries_) {
    if (!entry.folder && !entry.hidden && path.compare(0, prefix.size(), prefix) == 0) {
      files[path.substr(prefix.size())] = entry.content;
    }
  }
  return files;
}

FsStatus FakeFileSystem::GetAttributes(std::string_view path, uint32_t& attributes) {
  const std::string p(path);
  if (const auto failure = attributeFailures_.find(p); failure != attributeFailures_.end()) {
    return FsStatus{failure->second};
  }
  const auto it = entries_.find(p);
  if (it == entries_.end()) return FsStatus{2};
  attributes = (it->second.folder ? kAttributeDirectory : 0u) | (it->second.hidden ? 0x2u : 0u) |
               (it->second.system ? 0x4u : 0u) | (it->second.readOnly ? kAttributeReadOnly : 0u);
  return {};
}

}  // namespace velmora::testing
