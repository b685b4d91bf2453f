#include "platform/posix/posix_file_system.h"

#include <sys/stat.h>

#include <cerrno>

namespace velmora {
namespace {

enum class EntryKind { kNone, kFolder, kPlainFile, kOther };

bool IsNotFound(int error) { return error == ENOENT || error == ENOTDIR; }

// Follows links, as the copy does.
EntryKind KindOf(const std::string& path, int& error) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    error = errno;
    return EntryKind::kNone;
  }
  error = 0;
  if (S_ISDIR(info.st_mode)) return EntryKind::kFolder;
  if (S_ISREG(info.st_mode)) return EntryKind::kPlainFile;
  return EntryKind::kOther;
}

bool Passes(EntryKind kind, ListingFilter filter) {
  return kind == EntryKind::kPlainFile ||
         (kind == EntryKind::kFolder && filter == ListingFilter::kFoldersAndPlainFiles);
}

bool IsHiddenName(std::string_view name) { return !name.empty() && name.front() == '.'; }

}  // namespace

PosixFileSystem::~PosixFileSystem() { EndListing(); }

void PosixFileSystem::EndListing() {
  if (listing_ != nullptr) ::closedir(listing_);
  listing_ = nullptr;
}

FsStatus PosixFileSystem::FindFirst(std::string_view pattern, ListingFilter filter,
                                    std::string& name) {
  EndListing();
  const std::string path(pattern);
  if (!path.empty() && path.back() == '/') {
    listing_ = ::opendir(path.c_str());
    if (listing_ == nullptr) {
      if (!IsNotFound(errno)) return FsStatus{errno};
      name.clear();
      return {};
    }
    filter_ = filter;
    listedFolder_ = path;
    dotEntriesGiven_ = 0;
    return FindNext(name);
  }

  const size_t slash = path.rfind('/');
  const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  if (last.empty() || IsHiddenName(last)) {
    name.clear();
    return {};
  }
  int error = 0;
  const EntryKind kind = KindOf(path, error);
  if (error != 0 && !IsNotFound(error)) return FsStatus{error};
  name = Passes(kind, filter) ? last : std::string();
  return {};
}

FsStatus PosixFileSystem::FindNext(std::string& name) {
  if (listing_ == nullptr) {
    name.clear();
    return {};
  }
  // "." and ".." come first, as the listing promises, whatever order readdir gives them in.
  if (filter_ == ListingFilter::kFoldersAndPlainFiles && dotEntriesGiven_ < 2) {
    name = dotEntriesGiven_++ == 0 ? "." : "..";
    return {};
  }
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(listing_);
    if (entry == nullptr) {
      const int error = errno;
      EndListing();
      if (error != 0) return FsStatus{error};
      name.clear();
      return {};
    }
    const std::string entryName = entry->d_name;
    if (IsHiddenName(entryName)) continue;  // ".", ".." and hidden names
    int error = 0;
    const EntryKind kind = KindOf(listedFolder_ + entryName, error);
    if (Passes(kind, filter_)) {
      name = entryName;
      return {};
    }
  }
}

FsStatus PosixFileSystem::GetAttributes(std::string_view path, uint32_t& attributes) {
  int error = 0;
  const EntryKind kind = KindOf(std::string(path), error);
  if (error != 0) return FsStatus{error};
  attributes = kind == EntryKind::kFolder ? kAttributeDirectory : 0;
  return {};
}

}  // namespace velmora
