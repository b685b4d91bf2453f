#pragma once

#include <cstdint>

namespace velmora {

inline constexpr uint32_t kPlatformWin32Windows = 1;  // Windows 95, 98, Me
inline constexpr uint32_t kPlatformWin32Nt = 2;

// What the platform reports of itself; all zero when the query fails.
struct ReportedVersion {
  uint32_t majorVersion = 0;
  uint32_t minorVersion = 0;
  uint32_t platformId = 0;
};

class VersionSource {
 public:
  virtual ~VersionSource() = default;
  virtual ReportedVersion QueryVersion() = 0;
};

struct VersionFlags {
  uint8_t OsIsVista = 0;
  uint8_t OsIsWin7OrLater = 0;
};

// The flags for a reported version, given the flags as they stood: the NT family sets both from
// the number "major.minor", platform 1 clears both, any other platform keeps them.
VersionFlags FlagsForReportedVersion(const ReportedVersion& reported, VersionFlags previous);

class WindowsVersion {
 public:
  explicit WindowsVersion(VersionSource& source) : source_(source) {}

  void DetectWindowsVersion() { flags_ = FlagsForReportedVersion(source_.QueryVersion(), flags_); }

  // Vista or later: either flag set.
  bool IsVistaOrLater() const { return flags_.OsIsVista == 1 || flags_.OsIsWin7OrLater == 1; }
  const VersionFlags& flags() const { return flags_; }

 private:
  VersionSource& source_;
  VersionFlags flags_;
};

}  // namespace velmora
