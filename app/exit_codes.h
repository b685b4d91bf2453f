#pragma once

#include "copy/copy_runner.h"

namespace velmora {

// How the program ends, for the tools that start it in rooms of PCs (robocopy's convention: 0
// is success, and the higher the worse).
inline constexpr int kExitCopied = 0;         // the completion box
inline constexpr int kExitAlreadyCopied = 1;  // the destination was populated before
inline constexpr int kExitNotLocated = 2;     // the CD or the destination could not be used
inline constexpr int kExitFailures = 3;       // copies failed; the next run completes them
inline constexpr int kExitUsage = 4;          // an unknown argument
inline constexpr int kExitStopped = 5;        // stopped by the session's end; completed next time

constexpr int ExitCodeFor(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kCompleted:
      return kExitCopied;
    case RunOutcome::kAlreadyCopied:
      return kExitAlreadyCopied;
    case RunOutcome::kNotLocated:
      return kExitNotLocated;
    case RunOutcome::kFailed:
      return kExitFailures;
    case RunOutcome::kStopped:
      return kExitStopped;
  }
  return kExitFailures;
}

}  // namespace velmora
