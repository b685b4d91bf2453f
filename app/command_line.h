#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velmora {

// What the program was asked to do on its command line.
struct CommandLine {
  enum class Mode {
    kWindow,  // no arguments: the copy window, as ever
    kSilent,  // the same run as Execute, without a window or a box
    kHelp,
    kVersion,
    kUsageError,  // `problem` says what was wrong
  };
  Mode mode = Mode::kWindow;
  std::optional<std::string> logPath;  // --log FILE: the log goes there instead
  std::string problem;
};

// `arguments` without the program's name. With `windowsForms`, "/silent", "/log", "/help", "/?"
// and "/version" are taken too, in any case, as Windows programs take them.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments, bool windowsForms);

// The usage, one line per option.
std::string UsageText(bool windowsForms);

}  // namespace velmora
