#include <windows.h>

#include <string>

#include "app/command_line.h"
#include "app/copy_application.h"
#include "app/exit_codes.h"
#include "app/silent_run.h"
#include "app/win32/console_output.h"
#include "app/win32/silent_run_stop.h"
#include "app/win32/win32_copy_window.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using velmora::OutputStream;
  using velmora::WriteLineToParent;
  const velmora::CommandLine line =
      velmora::ParseCommandLine(velmora::CommandLineArguments(), /*windowsForms=*/true);
  switch (line.mode) {
    case velmora::CommandLine::Mode::kUsageError:
      WriteLineToParent(OutputStream::kError, "velmora-cdcopy: " + line.problem);
      WriteLineToParent(OutputStream::kError, velmora::UsageText(true));
      return velmora::kExitUsage;
    case velmora::CommandLine::Mode::kHelp:
      WriteLineToParent(OutputStream::kOutput, velmora::UsageText(true));
      return 0;
    case velmora::CommandLine::Mode::kVersion:
      WriteLineToParent(OutputStream::kOutput,
                        std::string("velmora-cdcopy ") + velmora::kProgramVersion);
      return 0;
    case velmora::CommandLine::Mode::kSilent: {
      velmora::CopyApplication program(line.logPath);
      velmora::SilentRunStop stop(program.run);
      const int code = velmora::RunSilently(
          program.run,
          [](std::string_view text) { WriteLineToParent(OutputStream::kOutput, text); },
          [&stop] { return stop.Asked(); });
      stop.Release(code);
      return code;
    }
    case velmora::CommandLine::Mode::kWindow:
      break;
  }
  velmora::CopyApplication program(line.logPath);
  velmora::Win32CopyWindow window(program.run);
  program.procedure.SetProgressDisplay(window.runProgress());
  window.ShowModal();  // the program ends as soon as the window is closed
  return 0;
}
