#include "tests/support/sandbox.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>

#ifdef _WIN32
#include <windows.h>
#endif

namespace velmora::testing {

Sandbox::Sandbox() {
  static std::atomic<int> counter{0};
  std::random_device random;
  root_ = std::filesystem::temp_directory_path() /
          ("velmora-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(root_);
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  // Copies from CD media may be read-only: make everything writable before removing it.
  for (auto it = std::filesystem::recursive_directory_iterator(root_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
#ifdef _WIN32
    SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
#endif
  }
  std::filesystem::remove_all(root_, ignored);
}

std::string Sandbox::Path(const std::string& relative) const {
  std::filesystem::path path = root_;
  if (!relative.empty()) path /= PathOf(relative);
  return TextOf(path.make_preferred());
}

void Sandbox::WriteFile(const std::string& relative, const std::string& content) const {
  const std::filesystem::path path = PathOf(Path(relative));
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string Sandbox::ReadFile(const std::string& relative) const {
  std::ifstream in(PathOf(Path(relative)), std::ios::binary);
  if (!in) return "<missing>";
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Sandbox::MakeFolder(const std::string& relative) const {
  std::filesystem::create_directories(PathOf(Path(relative)));
}

std::string Sandbox::MakeHiddenFile(const std::string& folder, const std::string& base) const {
#ifdef _WIN32
  WriteFile(folder + "/" + base, "hidden");
  SetFileAttributesW(PathOf(Path(folder + "/" + base)).c_str(), FILE_ATTRIBUTE_HIDDEN);
  return base;
#else
  WriteFile(folder + "/." + base, "hidden");
  return "." + base;
#endif
}

}  // namespace velmora::testing
