#include "platform/windows_paths.h"

#include <vector>

namespace velmora {

std::string ExtendedLengthForm(std::string_view path) {
  const auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
  std::string prefix;
  std::string_view rest;
  size_t anchoredComponents = 0;  // the share's server and name, which ".." never removes
  if (path.size() >= 3 && path[1] == ':' && isSeparator(path[2]) &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))) {
    prefix = std::string("\\\\?\\") + path[0] + ":";
    rest = path.substr(2);
  } else if (path.size() >= 3 && isSeparator(path[0]) && isSeparator(path[1]) && path[2] != '?' &&
             path[2] != '.') {
    prefix = "\\\\?\\UNC";
    rest = path.substr(1);
    anchoredComponents = 2;
  } else {
    return std::string(path);
  }
  std::vector<std::string_view> components;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = start;
    while (end < rest.size() && !isSeparator(rest[end])) ++end;
    const std::string_view component = rest.substr(start, end - start);
    if (component == "..") {
      if (components.size() > anchoredComponents) components.pop_back();
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    start = end + 1;
  }
  std::string form = prefix;
  for (const std::string_view component : components) {
    form += '\\';
    form += component;
  }
  if (components.empty() || isSeparator(rest.back())) form += '\\';
  return form;
}

}  // namespace velmora
