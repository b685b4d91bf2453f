#include <windows.h>

#include "app/win32/win32_copy_window.h"
#include "app/copy_application.h"

// The command line is not read.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  velmora::CopyApplication program;
  velmora::Win32CopyWindow window(program.procedure);
  program.procedure.SetProgressDisplay(window.runProgress());
  window.ShowModal();  // the program ends as soon as the window is closed
  return 0;
}
