#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/log_file.h"

namespace velmora::testing {

// Log files in memory; folders named in `unwritable` take no file and make no sub-folder.
class FakeLogFile final : public LogFile {
 public:
  std::optional<uint64_t> Size(const std::string& path) override {
    const auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second.size();
  }
  bool MakeFolders(const std::string& path) override {
    if (unwritable.count(path) != 0) return false;
    folders.insert(path);
    return true;
  }
  bool Replace(const std::string& from, const std::string& to) override {
    const auto it = files.find(from);
    if (it == files.end()) return false;
    files[to] = std::move(it->second);
    files.erase(from);
    return true;
  }
  bool Append(const std::string& path, std::string_view text) override {
    const std::string folder = path.substr(0, path.rfind('/'));
    if (unwritable.count(folder) != 0 || folders.count(folder) == 0) return false;
    files[path].append(text);
    return true;
  }

  std::map<std::string, std::string> files;
  std::set<std::string> folders;
  std::set<std::string> unwritable;
};

}  // namespace velmora::testing
