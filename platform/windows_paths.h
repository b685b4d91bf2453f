#pragma once

#include <string>
#include <string_view>

namespace velmora {

// A Windows path in the form that takes it past MAX_PATH: "C:\a\b" -> "\\?\C:\a\b",
// "\\server\share\a" -> "\\?\UNC\server\share\a". That form is taken as it stands, so it is
// made canonical here: forward slashes become backslashes, repeated separators and "." go, ".."
// takes the component before it away (never the drive or the share), and a trailing separator
// stays. A path already in a "\\?\" or "\\.\" form, and one that is not absolute, comes back
// unchanged.
std::string ExtendedLengthForm(std::string_view path);

}  // namespace velmora
