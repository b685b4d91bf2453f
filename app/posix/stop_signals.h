#pragma once

#include "copy/copy_runner.h"

namespace velmora {

// SIGTERM, SIGINT and SIGHUP, as a session's end, Ctrl+C and a lost terminal (an ssh connection
// that drops) send them: the first asks the run to stop at its next file or chunk (it leaves no
// partial copy, and its record stays for the next run) and tells whoever watches; a second
// SIGTERM or SIGINT ends the program at once. A signal ignored at start stays ignored, as nohup
// means SIGHUP to be. One instance at a time; the signals' earlier actions come back when it goes.
class StopSignals {
 public:
  explicit StopSignals(CopyRunner& run);
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The number of the first signal, 0 before any came.
  static int Received();
  // Readable once a signal has come: an event loop watches it.
  int notifier() const;
};

}  // namespace velmora
