#include "app/run_log.h"

#include <cstdio>

#include "app/copy_window_controller.h"
#include "app/exit_codes.h"

namespace velmora {
namespace {

std::tm LocalTime(std::time_t time) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &time);
#else
  localtime_r(&time, &local);
#endif
  return local;
}

std::tm UniversalTime(std::time_t time) {
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &time);
#else
  gmtime_r(&time, &utc);
#endif
  return utc;
}

const char* YesNo(bool yes) { return yes ? "yes" : "no"; }

}  // namespace

std::string RotatedLogPath(const std::string& path, char separator) {
  const size_t nameStart =
      path.rfind(separator) == std::string::npos ? 0 : path.rfind(separator) + 1;
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot <= nameStart) return path + ".1";
  return path.substr(0, dot) + ".1" + path.substr(dot);
}

bool AppendLogEntry(LogFile& file, const std::string& path, std::string_view entry,
                    char separator) {
  const size_t last = path.rfind(separator);
  if (last != std::string::npos && last > 0) file.MakeFolders(path.substr(0, last));
  if (const std::optional<uint64_t> size = file.Size(path); size && *size > kLogRotationBytes) {
    file.Replace(path, RotatedLogPath(path, separator));
  }
  return file.Append(path, entry);
}

std::string LocalIso8601(std::time_t time) {
  const std::tm local = LocalTime(time);
  const std::tm utc = UniversalTime(time);
  // The offset from the two broken-down times; they are at most a day apart.
  int dayDifference = local.tm_yday - utc.tm_yday;
  if (local.tm_year != utc.tm_year) dayDifference = local.tm_year > utc.tm_year ? 1 : -1;
  const int offsetMinutes =
      dayDifference * 24 * 60 + (local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min);
  const int magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
  return text;
}

namespace {

std::string EntryHeading(const RunLogFacts& facts) {
  return "== " + LocalIso8601(facts.started) + " velmora-cdcopy " + kProgramVersion + "\n";
}

// The result, the exit code and the time taken, with which every entry ends.
std::string EntryEnding(const RunLogFacts& facts) {
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(facts.took).count();
  char took[32];
  std::snprintf(took, sizeof took, "%lld.%03lld s", static_cast<long long>(milliseconds / 1000),
                static_cast<long long>(milliseconds % 1000));
  return "result: " + facts.resultText + "\n" + "exit code: " + std::to_string(facts.exitCode) +
         "\n" + "took: " + took + "\n";
}

}  // namespace

std::string FormatLogEntry(const CopyProcedure& run, const RunLogFacts& facts) {
  const VersionFlags& flags = run.version().flags();
  const messages::CopyFailures& failures = run.failures();
  std::string entry = EntryHeading(facts);
  entry += "Windows version flags: OsIsVista " + std::to_string(flags.OsIsVista) +
           ", OsIsWin7OrLater " + std::to_string(flags.OsIsWin7OrLater) + "\n";
  entry += "source: " + (run.SourceRoot.empty() ? std::string("-") : run.SourceRoot) + "\n";
  entry += "destination: " + (run.InstallRoot.empty() ? std::string("-") : run.InstallRoot) + "\n";
  entry += std::string("completes an earlier run: ") + YesNo(run.completingEarlierRun()) + "\n";
  for (const messages::FailureNote& note : failures.notes) {
    entry += "failed: " + note.path + "\t" + note.reason + "\n";
  }
  entry += "files counted " + std::to_string(run.CopiedFileCount) + ", not copied " +
           std::to_string(failures.filesNotCopied) + "; folders not made " +
           std::to_string(failures.foldersNotMade) + "; CD folders not read " +
           std::to_string(failures.foldersNotRead) + "; copies on the disk " +
           YesNo(!failures.notWrittenToDisk) + "\n";
  return entry + EntryEnding(facts);
}

std::string FormatGivenUpLogEntry(const RunLogFacts& facts) {
  return EntryHeading(facts) +
         "given up: a call on the CD or the destination had not returned when the program had "
         "to end; the program ended without the run, whose record stays for the next run\n" +
         EntryEnding(facts);
}

std::string ResultBoxText(const CopyRunner& run) {
  return run.ResultMessage.empty() ? std::string(window_texts::kCompleted)
                                   : FailureBoxText(run.ResultMessage);
}

void LoggedRun::RunCopy() {
  const auto start = std::chrono::steady_clock::now();
  const std::time_t started = wallClock_();
  {
    MutexLock lock(entryMutex_);
    underWay_ = true;
    entryTaken_ = false;
    started_ = started;
    start_ = start;
  }
  logWritten_ = false;
  procedure_.ResultMessage = ResultMessage;
  procedure_.RunCopy();
  ResultMessage = procedure_.ResultMessage;
  Outcome = procedure_.Outcome;
  {
    MutexLock lock(entryMutex_);
    underWay_ = false;
    if (entryTaken_) return;  // given up on meanwhile: its entry says so
    entryTaken_ = true;
  }

  RunLogFacts facts;
  facts.started = started;
  facts.took = std::chrono::steady_clock::now() - start;
  facts.exitCode = ExitCodeFor(Outcome);
  facts.resultText = ResultBoxText(*this);
  if (!logPath_.empty()) {
    logWritten_ = AppendLogEntry(file_, logPath_, FormatLogEntry(procedure_, facts), separator_);
  }
}

void LoggedRun::GiveUp() {
  RunLogFacts facts;
  {
    MutexLock lock(entryMutex_);
    if (!underWay_ || entryTaken_) return;
    entryTaken_ = true;
    facts.started = started_;
    facts.took = std::chrono::steady_clock::now() - start_;
  }
  facts.exitCode = ExitCodeFor(RunOutcome::kStopped);
  facts.resultText = FailureBoxText(messages::kStopped);
  if (!logPath_.empty()) AppendLogEntry(file_, logPath_, FormatGivenUpLogEntry(facts), separator_);
}

std::string LoggedRun::FailureFootnote() const {
  return logWritten_ ? "詳しくはログをご覧下さい：" + logPath_ : std::string();
}

}  // namespace velmora
