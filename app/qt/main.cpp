#include <unistd.h>

#include <QApplication>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/copy_application.h"
#include "app/exit_codes.h"
#include "app/posix/stop_signals.h"
#include "app/qt/qt_copy_window.h"
#include "app/silent_run.h"

namespace {

bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0') return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

void WriteLine(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

int RunWindow(int argc, char** argv, velmora::CopyApplication& program,
              velmora::StopSignals& stopSignals) {
  if (!HasDisplay()) {
    std::fputs(
        "velmora-cdcopy: no display to open the window on (DISPLAY is not set); "
        "--silent copies without one\n",
        stderr);
    return velmora::kExitUsage;
  }
  QApplication application(argc, argv);
  velmora::RegisterWindowFontSubstitutes();
  velmora::QtCopyWindow window(program.run);
  program.procedure.SetProgressDisplay(window.runProgress());

  // A session's end or Ctrl+C during a run: the run stops, then the program ends; outside a
  // run the program ends at once.
  QSocketNotifier signalled(stopSignals.notifier(), QSocketNotifier::Read);
  QObject::connect(&signalled, &QSocketNotifier::activated, [&] {
    signalled.setEnabled(false);
    const int signal = velmora::StopSignals::Received();
    if (!window.controller().runUnderWay()) {
      application.exit(128 + signal);
      return;
    }
    // The run's own outcome, as --silent ends with it: 5 once it has stopped, or what it came
    // to when it ended just before the stop could reach it.
    window.controller().StopRun(
        [&application, &program] { application.exit(velmora::ExitCodeFor(program.run.Outcome)); });
    QTimer::singleShot(std::chrono::seconds(4), [&program] {
      program.run.GiveUp();
      _exit(velmora::kExitStopped);
    });
  });
  window.show();
  return application.exec();  // the program ends as soon as the window is closed
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const velmora::CommandLine line = velmora::ParseCommandLine(arguments, /*windowsForms=*/false);
  switch (line.mode) {
    case velmora::CommandLine::Mode::kUsageError:
      WriteLine(stderr, "velmora-cdcopy: " + line.problem);
      std::fputs(velmora::UsageText(false).c_str(), stderr);
      return velmora::kExitUsage;
    case velmora::CommandLine::Mode::kHelp:
      std::fputs(velmora::UsageText(false).c_str(), stdout);
      return 0;
    case velmora::CommandLine::Mode::kVersion:
      WriteLine(stdout, std::string("velmora-cdcopy ") + velmora::kProgramVersion);
      return 0;
    case velmora::CommandLine::Mode::kSilent: {
      velmora::CopyApplication program(line.logPath);
      velmora::StopSignals stopSignals(program.run);
      return velmora::RunSilently(
          program.run, [](std::string_view text) { WriteLine(stdout, text); },
          [] { return velmora::StopSignals::Received() != 0; });
    }
    case velmora::CommandLine::Mode::kWindow:
      break;
  }
  velmora::CopyApplication program(line.logPath);
  velmora::StopSignals stopSignals(program.run);
  return RunWindow(argc, argv, program, stopSignals);
}
