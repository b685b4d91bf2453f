#pragma once

#include "platform/log_file.h"

namespace velmora {

class Win32LogFile final : public LogFile {
 public:
  std::optional<uint64_t> Size(const std::string& path) override;
  bool MakeFolders(const std::string& path) override;
  bool Replace(const std::string& from, const std::string& to) override;
  // A new log begins with a byte-order mark, so Notepad on XP reads it as UTF-8.
  bool Append(const std::string& path, std::string_view text) override;

  // Velmora\cdcopy.log in the user's local application data folder; empty when there is none.
  static std::string DefaultPath();
};

}  // namespace velmora
