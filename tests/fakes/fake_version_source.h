#pragma once

#include "platform/windows_version.h"

namespace velmora::testing {

class FakeVersionSource final : public VersionSource {
 public:
  explicit FakeVersionSource(ReportedVersion initial = {}) : reported(initial) {}
  ReportedVersion QueryVersion() override {
    ++queryCount;
    return reported;
  }
  ReportedVersion reported;
  int queryCount = 0;
};

inline constexpr ReportedVersion kWindowsXp{5, 1, kPlatformWin32Nt};
inline constexpr ReportedVersion kWindowsVista{6, 0, kPlatformWin32Nt};
inline constexpr ReportedVersion kWindows7{6, 1, kPlatformWin32Nt};

}  // namespace velmora::testing
