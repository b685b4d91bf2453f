#pragma once

#include <filesystem>
#include <string>

namespace velmora::testing {

// A path from UTF-8 text, on every platform.
inline std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string TextOf(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // The sandbox's own path in the platform's text form, with `relative` (using '/') appended.
  std::string Path(const std::string& relative = "") const;
  void WriteFile(const std::string& relative, const std::string& content) const;
  std::string ReadFile(const std::string& relative) const;
  void MakeFolder(const std::string& relative) const;
  // Creates a file that the platform counts as hidden; returns its name as listed.
  std::string MakeHiddenFile(const std::string& folder, const std::string& base) const;

 private:
  std::filesystem::path root_;
};

}  // namespace velmora::testing
