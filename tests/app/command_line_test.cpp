#include "app/command_line.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(CommandLineTest, ArgumentsAndWhatTheyAskFor) {
  using Mode = CommandLine::Mode;
  struct Row {
    std::vector<std::string> arguments;
    bool windowsForms;
    Mode mode;
    const char* logPath;  // nullptr: none given
  };
  const Row rows[] = {
      {{}, false, Mode::kWindow, nullptr},
      {{"--silent"}, false, Mode::kSilent, nullptr},
      {{"--silent", "--log", "/tmp/run.log"}, false, Mode::kSilent, "/tmp/run.log"},
      {{"--log=/tmp/x.log", "--silent"}, false, Mode::kSilent, "/tmp/x.log"},
      {{"--log", "C:\\logs\\pc12.log"}, true, Mode::kWindow, "C:\\logs\\pc12.log"},
      {{"/silent"}, true, Mode::kSilent, nullptr},
      {{"/SILENT"}, true, Mode::kSilent, nullptr},
      {{"/Silent", "/LOG", "\\\\server\\logs\\pc12.log"},
       true,
       Mode::kSilent,
       "\\\\server\\logs\\pc12.log"},
      {{"--help"}, false, Mode::kHelp, nullptr},
      {{"/?"}, true, Mode::kHelp, nullptr},
      {{"--silent", "--help"}, false, Mode::kHelp, nullptr},
      {{"--version"}, false, Mode::kVersion, nullptr},
      // Slash forms are Windows' only: elsewhere a path is a path, and an unknown argument.
      {{"/silent"}, false, Mode::kUsageError, nullptr},
      {{"--quiet"}, false, Mode::kUsageError, nullptr},
      {{"--silent", "extra"}, true, Mode::kUsageError, nullptr},
      {{"--log"}, false, Mode::kUsageError, nullptr},
      {{"--log="}, false, Mode::kUsageError, nullptr},
      {{"--log", ""}, false, Mode::kUsageError, nullptr},
      {{"--SILENT"}, true, Mode::kUsageError, nullptr},
  };
  for (const Row& row : rows) {
    std::string name;
    for (const std::string& argument : row.arguments) name += "[" + argument + "]";
    const CommandLine line = ParseCommandLine(row.arguments, row.windowsForms);
    EXPECT_EQ(line.mode, row.mode) << name;
    if (row.logPath != nullptr) {
      EXPECT_EQ(line.logPath, std::optional<std::string>(row.logPath)) << name;
    } else if (row.mode != Mode::kUsageError) {
      EXPECT_FALSE(line.logPath.has_value()) << name;
    }
    EXPECT_EQ(line.problem.empty(), row.mode != Mode::kUsageError) << name;
  }
  EXPECT_EQ(ParseCommandLine({"--quiet"}, false).problem, "unknown argument: --quiet");
}

TEST(CommandLineTest, TheUsageNamesEveryOptionAndExitCode) {
  const std::string usage = UsageText(true);
  for (const char* part :
       {"--silent", "/silent", "--log FILE", "--help", "--version", "0 copied", "1 already copied",
        "2 CD or destination not found", "3 failures", "4 usage error", "5 stopped"}) {
    EXPECT_NE(usage.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(UsageText(false).find("/silent"), std::string::npos);
}

}  // namespace
}  // namespace velmora
