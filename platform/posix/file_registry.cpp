#include "platform/posix/file_registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace velmora {

std::string FileRegistry::DefaultPath() {
  const char* path = std::getenv("VELMORA_MACHINE_REG");
  return path != nullptr && *path != '\0' ? path : "/etc/velmora/machine.reg";
}

void FileRegistry::ReportOnce(const std::string& message) {
  if (reported_.emplace(message, true).second) std::cerr << "velmora: " << message << '\n';
}

long FileRegistry::OpenKeyForQuery(std::string_view subKey, RegKeyHandle& key) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    ReportOnce(path_ + ": cannot read the machine registry file: " + std::strerror(errno));
    return kRegFileNotFound;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    ReportOnce(path_ + ": read error");
    return kRegFileNotFound;
  }

  std::vector<RegFileDiagnostic> diagnostics;
  RegFile snapshot = RegFile::Parse(bytes, diagnostics);
  for (const RegFileDiagnostic& d : diagnostics) {
    std::ostringstream message;
    message << path_ << ':' << d.line << ": " << d.message;
    ReportOnce(message.str());
  }
  if (!snapshot.HasKey(subKey)) return kRegFileNotFound;

  key = nextHandle_++;
  openKeys_.emplace(key, OpenKey{std::move(snapshot), std::string(subKey)});
  return kRegSuccess;
}

long FileRegistry::QueryValue(RegKeyHandle key, std::string_view valueName, uint32_t& type,
                              uint8_t* buffer, uint32_t& byteCount) {
  const auto open = openKeys_.find(key);
  if (open == openKeys_.end()) return kRegAccessDenied;
  const RegFileValue* value = open->second.snapshot.FindValue(open->second.path, valueName);
  if (value == nullptr) return kRegFileNotFound;
  type = value->type;
  const auto size = static_cast<uint32_t>(value->bytes.size());
  if (size > byteCount) {
    byteCount = size;
    return kRegMoreData;
  }
  std::memcpy(buffer, value->bytes.data(), size);
  byteCount = size;
  return kRegSuccess;
}

long FileRegistry::CloseKey(RegKeyHandle key) {
  return openKeys_.erase(key) == 1 ? kRegSuccess : kRegAccessDenied;
}

}  // namespace velmora
