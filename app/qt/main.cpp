#include <QApplication>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "app/qt/qt_copy_window.h"
#include "app/copy_application.h"

namespace {

bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0') return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

}  // namespace

int main(int argc, char** argv) {
  if (!HasDisplay()) {
    std::fputs("velmora-cdcopy: no display to open the window on (DISPLAY is not set)\n", stderr);
    return 1;
  }
  QApplication application(argc, argv);  // the command line is not read
  velmora::RegisterWindowFontSubstitutes();

  velmora::CopyApplication program;
  velmora::QtCopyWindow window(program.procedure);
  program.procedure.SetProgressDisplay(window.runProgress());
  window.exec();  // the program ends as soon as the window is closed
  return 0;
}
