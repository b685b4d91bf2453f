#include "platform/windows_version.h"

#include <charconv>
#include <string>

namespace velmora {
namespace {

// The version number as the text "major.minor" reads, with a full stop whatever the locale:
// 6.1 -> 6.1, 10.0 -> 10, 6.10 -> 6.1.
double VersionNumber(const ReportedVersion& reported) {
  const std::string text =
      std::to_string(reported.majorVersion) + "." + std::to_string(reported.minorVersion);
  double number = 0;
  std::from_chars(text.data(), text.data() + text.size(), number);
  return number;
}

}  // namespace

VersionFlags FlagsForReportedVersion(const ReportedVersion& reported, VersionFlags previous) {
  if (reported.platformId == kPlatformWin32Nt) {
    const double number = VersionNumber(reported);
    return VersionFlags{static_cast<uint8_t>(number == 6.0 ? 1 : 0),
                        static_cast<uint8_t>(number >= 6.1 ? 1 : 0)};
  }
  if (reported.platformId == kPlatformWin32Windows) return VersionFlags{};
  return previous;
}

}  // namespace velmora
