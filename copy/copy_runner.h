#pragma once

#include <string>

namespace velmora {

// How a run ended, for those who act on it without reading its text (an unattended run's exit
// code, the log).
enum class RunOutcome {
  kCompleted,      // everything copied; ResultMessage empty
  kAlreadyCopied,  // the destination was populated before; nothing done
  kNotLocated,     // the CD or the destination could not be found or used; nothing copied
  kFailed,         // some copies failed; the next run completes them
  kStopped,        // stopped on request before its end; the next run completes it
};

// The request-and-answer protocol of a copy run: the caller empties ResultMessage, calls RunCopy,
// and reads ResultMessage: empty when the run went through, else the text to report.
class CopyRunner {
 public:
  virtual ~CopyRunner() = default;
  virtual void RunCopy() = 0;

  // May be called from any thread, at any time: the run under way, and any run after it, stops
  // at its next file or chunk. Returns at once; it only sets a flag, so a signal handler may
  // call it.
  virtual void RequestStop() = 0;

  // The program is about to end without the run under way, which is held in a call that has not
  // returned (a drive that hangs): the run says so where it keeps its records. Any thread; the
  // run's own may still be in that call. Nothing when no run is under way.
  virtual void GiveUp() {}

  // A line for the end of the failure box (where to read more), or empty.
  virtual std::string FailureFootnote() const { return {}; }

  std::string ResultMessage;
  RunOutcome Outcome = RunOutcome::kCompleted;
};

}  // namespace velmora
