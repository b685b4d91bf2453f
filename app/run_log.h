#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "copy/copy_procedure.h"
#include "platform/log_file.h"
#include "platform/worker_thread.h"

namespace velmora {

inline constexpr const char* kProgramVersion = VELMORA_VERSION;
// A log past this size is moved to its ".1" name, replacing any older one, before the next entry.
inline constexpr uint64_t kLogRotationBytes = uint64_t{1} << 20;

// "C:\\Users\\u\\AppData\\Local\\Velmora\\cdcopy.log" -> "...\\cdcopy.1.log"; a name without an
// extension gets ".1" at its end.
std::string RotatedLogPath(const std::string& path, char separator);

// Appends one entry to the log at `path`, rotating it first when it has grown past
// kLogRotationBytes; makes its folder when missing. False when the entry could not be written.
bool AppendLogEntry(LogFile& file, const std::string& path, std::string_view entry, char separator);

// "2026-12-09T15:04:05+09:00": local time, with its offset from UTC.
std::string LocalIso8601(std::time_t time);

// What one run's entry says.
struct RunLogFacts {
  std::time_t started = 0;
  std::chrono::steady_clock::duration took{};
  int exitCode = 0;
  std::string resultText;  // the box's text, on one line
};

// One run's entry: its start, the program's version and the Windows version flags, source and
// destination and whether the run completed an earlier one, every failure with its reason in
// order, the counts, the result, the exit code and the time it took.
std::string FormatLogEntry(const CopyProcedure& run, const RunLogFacts& facts);

// One entry for a run the program ended without (GiveUp): what is known of it without asking the
// run, which is still in a call: its start, that it was given up on, the exit code and the time.
std::string FormatGivenUpLogEntry(const RunLogFacts& facts);

// The copy run with its log: the same run, then one entry appended to the log, on the run's own
// thread; or, for a run the program ends without, the entry that says so, on the thread that
// gives up. A log that cannot be written changes nothing of the run.
class LoggedRun final : public CopyRunner {
 public:
  using WallClock = std::function<std::time_t()>;
  LoggedRun(
      CopyProcedure& procedure, LogFile& file, std::string logPath, char separator,
      WallClock wallClock = [] { return std::time(nullptr); })
      : procedure_(procedure),
        file_(file),
        logPath_(std::move(logPath)),
        separator_(separator),
        wallClock_(std::move(wallClock)) {}

  void RunCopy() override;
  void RequestStop() override { procedure_.RequestStop(); }
  void GiveUp() override;
  // Where the log is, once it holds this run's entry.
  std::string FailureFootnote() const override;

  const std::string& logPath() const { return logPath_; }
  bool logWritten() const { return logWritten_; }

 private:
  CopyProcedure& procedure_;
  LogFile& file_;
  std::string logPath_;
  char separator_;
  WallClock wallClock_;
  bool logWritten_ = false;

  // Shared with a thread that gives up on the run, under entryMutex_: one entry a run, written by
  // whichever of the two takes it first.
  Mutex entryMutex_;
  bool underWay_ = false;
  bool entryTaken_ = false;
  std::time_t started_ = 0;
  std::chrono::steady_clock::time_point start_{};
};

// The text of the box a run ends with, as the window shows it, on one line.
std::string ResultBoxText(const CopyRunner& run);

}  // namespace velmora
