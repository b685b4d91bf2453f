#include "app/command_line.h"

#include <algorithm>

namespace velmora {
namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  });
  return text;
}

// "--silent" as it is, "/SILENT" as "--silent" where Windows forms are taken.
std::string OptionName(const std::string& argument, bool windowsForms) {
  if (windowsForms && argument.size() > 1 && argument[0] == '/') {
    const std::string name = Lower(argument.substr(1));
    return name == "?" ? "--help" : "--" + name;
  }
  return argument;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments, bool windowsForms) {
  CommandLine line;
  bool silent = false;
  bool help = false;
  bool version = false;
  const auto usageError = [&line](std::string problem) {
    line.mode = CommandLine::Mode::kUsageError;
    line.problem = std::move(problem);
    return line;
  };
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const std::string name = OptionName(argument, windowsForms);
    if (name == "--silent") {
      silent = true;
    } else if (name == "--help" || name == "-h") {
      help = true;
    } else if (name == "--version") {
      version = true;
    } else if (name == "--log") {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        return usageError(argument + " needs a file name");
      }
      line.logPath = arguments[++i];
    } else if (name.starts_with("--log=")) {
      if (name.size() == 6) return usageError(argument + " needs a file name");
      line.logPath = argument.substr(argument.find('=') + 1);
    } else {
      return usageError("unknown argument: " + argument);
    }
  }
  if (help) {
    line.mode = CommandLine::Mode::kHelp;
  } else if (version) {
    line.mode = CommandLine::Mode::kVersion;
  } else if (silent) {
    line.mode = CommandLine::Mode::kSilent;
  }
  return line;
}

std::string UsageText(bool windowsForms) {
  const char* silent = windowsForms ? "--silent, /silent" : "--silent";
  const char* log = windowsForms ? "--log FILE, /log FILE" : "--log FILE";
  return std::string("usage: velmora-cdcopy [--silent] [--log FILE] [--help] [--version]\n") +
         "  (no arguments)  open the copy window\n" + "  " + silent +
         "  copy without a window; the result as one line on standard output,\n"
         "      and the exit code: 0 copied, 1 already copied, 2 CD or destination not found,\n"
         "      3 failures (run again to complete), 4 usage error, 5 stopped before the end\n" +
         "  " + log + "  append the log of each run to FILE\n" +
         "  --help  this text\n"
         "  --version  the program's version\n";
}

}  // namespace velmora
