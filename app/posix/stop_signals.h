#pragma once

#include "copy/copy_runner.h"

namespace velmora {

// SIGTERM and SIGINT, as a session's end or Ctrl+C sends them: the first asks the run to stop at
// its next file or chunk (it leaves no partial copy, and its record stays for the next run) and
// tells whoever watches; a second one ends the program at once. One instance at a time.
class StopSignals {
 public:
  explicit StopSignals(CopyRunner& run);
  ~StopSignals();  // the signals' own actions again
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The number of the first signal, 0 before any came.
  static int Received();
  // Readable once a signal has come: an event loop watches it.
  int notifier() const;
};

}  // namespace velmora
