#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/log_file.h"

namespace velmora {
namespace {

class PosixLogFile final : public LogFile {
 public:
  std::optional<uint64_t> Size(const std::string& path) override;
  bool MakeFolders(const std::string& path) override;
  bool Replace(const std::string& from, const std::string& to) override;
  bool Append(const std::string& path, std::string_view text) override;
};

}  // namespace

std::optional<uint64_t> PosixLogFile::Size(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<uint64_t>(info.st_size);
}

bool PosixLogFile::MakeFolders(const std::string& path) {
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string folder = path.substr(0, end);
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (end == std::string::npos) break;
  }
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PosixLogFile::Replace(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool PosixLogFile::Append(const std::string& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t written = 0; ok && written < text.size();) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) written += static_cast<size_t>(n);
  }
  return ::close(fd) == 0 && ok;
}

std::string PlatformLogPath() {
  // $XDG_STATE_HOME, by default ~/.local/state, as the XDG base directories have it.
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/velmora/cdcopy.log";
  const char* home = std::getenv("HOME");
  std::string base = home != nullptr && home[0] == '/' ? home : "";
  if (base.empty()) {
    if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir != nullptr) {
      base = user->pw_dir;
    }
  }
  if (base.empty()) return {};
  return base + "/.local/state/velmora/cdcopy.log";
}

std::unique_ptr<LogFile> MakePlatformLogFile() { return std::make_unique<PosixLogFile>(); }

}  // namespace velmora
