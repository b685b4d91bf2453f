#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The file operations that keeping a log of runs needs. Paths are UTF-8 with the platform's
// separator. None of them ever stops the program: a failure is only answered.
class LogFile {
 public:
  virtual ~LogFile() = default;
  // The file's size, or nothing when there is no such file or it cannot be looked at.
  virtual std::optional<uint64_t> Size(const std::string& path) = 0;
  // Makes the folder and any missing above it; true when it is there afterwards.
  virtual bool MakeFolders(const std::string& path) = 0;
  // Puts `from` in the place of `to`, replacing what was there.
  virtual bool Replace(const std::string& from, const std::string& to) = 0;
  // Appends `text`, making the file when there is none (with a byte-order mark on Windows, so
  // Notepad reads it as UTF-8).
  virtual bool Append(const std::string& path, std::string_view text) = 0;
};

// The platform's own: Windows, Velmora\cdcopy.log in the user's local application data folder;
// Linux, $XDG_STATE_HOME/velmora/cdcopy.log, by default ~/.local/state/velmora/cdcopy.log. Empty
// when the user has no such folder.
std::unique_ptr<LogFile> MakePlatformLogFile();
std::string PlatformLogPath();

}  // namespace velmora
