#pragma once

#include "platform/log_file.h"

namespace velmora {

class PosixLogFile final : public LogFile {
 public:
  std::optional<uint64_t> Size(const std::string& path) override;
  bool MakeFolders(const std::string& path) override;
  bool Replace(const std::string& from, const std::string& to) override;
  bool Append(const std::string& path, std::string_view text) override;

  // $XDG_STATE_HOME/velmora/cdcopy.log, by default ~/.local/state/velmora/cdcopy.log; empty when
  // the user has no home.
  static std::string DefaultPath();
};

}  // namespace velmora
