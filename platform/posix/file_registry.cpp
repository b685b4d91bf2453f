#include "platform/posix/file_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace velmora {
namespace {

std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "of an unknown kind";
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::string FileRegistry::DefaultPath() {
  const char* path = std::getenv("VELMORA_MACHINE_REG");
  return path != nullptr && *path != '\0' ? path : "/etc/velmora/machine.reg";
}

void FileRegistry::ReportOnce(const std::string& message) {
  if (reported_.insert(message).second) std::cerr << "velmora: " << message << '\n';
}

long FileRegistry::OpenKeyForQuery(std::string_view subKey, RegKeyHandle& key) {
  const std::string cannotRead = path_ + ": cannot read the machine registry file: ";
  // Non-blocking, so that a pipe without a writer cannot hold the open; what was opened is then
  // checked through the descriptor, never through the path a second time.
  const Descriptor file(::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.get() < 0) {
    ReportOnce(cannotRead + std::strerror(errno));
    return kRegFileNotFound;
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) {
    ReportOnce(cannotRead + std::strerror(errno));
    return kRegFileNotFound;
  }
  if (!S_ISREG(status.st_mode)) {
    ReportOnce(cannotRead + "it is " + KindOf(status.st_mode) + ", not a regular file");
    return kRegFileNotFound;
  }
  // Reads of a regular file never wait; blocking mode all the same, so none answers EAGAIN.
  const int flags = ::fcntl(file.get(), F_GETFL);
  if (flags >= 0) ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK);

  int readError = 0;
  const RegFileByteSource source = [&](char* buffer, size_t capacity) -> size_t {
    while (true) {
      const ssize_t count = ::read(file.get(), buffer, capacity);
      if (count >= 0) return static_cast<size_t>(count);
      if (errno != EINTR) {
        readError = errno;
        return 0;
      }
    }
  };
  // A file of nothing but bad lines must not fill the terminal, nor the memory of what was said.
  int problems = 0;
  const RegFileDiagnosticSink report = [&](const RegFileDiagnostic& d) {
    if (++problems <= kMaxReportedProblems) {
      ReportOnce(path_ + ':' + std::to_string(d.line) + ": " + d.message);
    }
  };
  RegFileKey snapshot = RegFile::ParseKey(source, subKey, report);
  if (problems > kMaxReportedProblems) {
    ReportOnce(path_ + ": " + std::to_string(problems - kMaxReportedProblems) +
               " more problems not shown");
  }
  if (readError != 0) {
    ReportOnce(path_ + ": read error: " + std::strerror(readError));
    return kRegFileNotFound;
  }
  if (!snapshot.exists) return kRegFileNotFound;

  key = nextHandle_++;
  openKeys_.emplace(key, std::move(snapshot));
  return kRegSuccess;
}

long FileRegistry::QueryValue(RegKeyHandle key, std::string_view valueName, uint32_t& type,
                              uint8_t* buffer, uint32_t& byteCount) {
  const auto open = openKeys_.find(key);
  if (open == openKeys_.end()) return kRegAccessDenied;
  const RegFileValue* value = open->second.FindValue(valueName);
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
