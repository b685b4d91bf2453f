#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_set>

#include "copy/copy_runner.h"
#include "copy/messages.h"
#include "copy/progress_display.h"
#include "platform/file_system.h"
#include "platform/installer_settings.h"
#include "platform/windows_version.h"

namespace velmora {

// The record of a copy under way, kept beside the copies in the destination root: a hidden file,
// written and put on the disk before the first copy and removed only once every copy is on the
// disk. Any user's next run that finds it completes the copy.
inline constexpr const char* kCopyMarkerName = ".velmora-cdcopy-under-way";

// Where the release before kept that record, per user: the settings of application "Velmora",
// section "CdCopy", key "UnderWay", holding the destination root. Still honoured, then cleared.
inline constexpr const char* kCopyRecordSection = "CdCopy";
inline constexpr const char* kCopyRecordKey = "UnderWay";

// The marker's text: whether the copies that stand in the tree were all put on the disk by the
// run that made them. Only then may a later run skip a file whose size and time match its source.
std::string CopyMarkerText(bool stampsTrusted);
bool CopyMarkerTrustsStamps(std::string_view text);

// One copy run from the install CD to the destination the installer recorded. Its state lives
// for the program's life and is overwritten by each run.
class CopyProcedure final : public CopyRunner, private CopyProgress {
 public:
  CopyProcedure(FileSystem& fileSystem, InstallerSettings& settings, WindowsVersion& version,
                char separator);

  // Where the run shows its count of copied files; none until set.
  void SetProgressDisplay(ProgressDisplay& display) { progress_ = &display; }

  // Runs one copy. Never fails: its report is ResultMessage and Outcome.
  void RunCopy() override;
  void RequestStop() override { stopRequested_.store(true); }

  std::string SourceRoot;   // the install CD folder, no trailing separator
  std::string InstallRoot;  // the destination root, no trailing separator once final
  std::string DestinationDrive;
  std::string SystemFolder;
  std::string HelpFolder;
  std::string Folder1;
  std::string Folder2;
  std::string BackupFolder;
  std::string MakerMark;
  std::string ListedFolder;  // the CD folder being listed, ending in the separator
  std::string EntryName;
  uint64_t CopiedFileCount = 0;

  const messages::CopyFailures& failures() const { return failures_; }
  // Whether the run found a copy under way in its destination, and went on with it.
  bool completingEarlierRun() const { return completing_; }
  const WindowsVersion& version() const { return version_; }

 private:
  // Each returns false, with ResultMessage and Outcome set, when the run has to stop.
  bool LocateSource();
  bool LocateDestination();
  bool PrepareDestination();
  bool RecordCopyUnderWay();

  void MakeFolderWhenMissing(const std::string& path, bool countFailure);
  bool IsFolder(const std::string& path);
  void NoteFailure(const std::string& path, FsStatus status);
  void CopyFolderFiles(const std::string& listedFolder, const std::string& destination);
  bool AlreadyCopied(const std::string& source, const std::string& destination);
  FsStatus Copy(const std::string& source, const std::string& destination);
  void NoteFailedCopy(const std::string& destination, FsStatus status);
  void NoteLostCopies();
  void FinishRun();
  bool Stopping() const { return stopRequested_.load(std::memory_order_relaxed); }
  bool ChunkCopied() override { return !Stopping(); }

  bool PlainFileExists(const std::string& path);
  bool FolderExists(const std::string& path);
  std::string Sub(const std::string& base, const char* name) const;
  std::string EarlierRecord();

  FileSystem& fileSystem_;
  InstallerSettings& settings_;
  WindowsVersion& version_;
  char separator_;
  ProgressDisplay* progress_;
  messages::CopyFailures failures_;
  bool completing_ = false;
  bool trustStamps_ = false;
  // Whether a destination file that a failed copy left (an older one, of unknown worth) may
  // still stand: then no later run may trust any stamp.
  bool failedCopyLeftAFile_ = false;
  // Where this run has copied to in Folder_1, which three CD folders copy into: a name two of
  // them share is copied each time, the later over the earlier, whatever the stamps say.
  std::unordered_set<std::string> written_;
  bool earlierRecordSet_ = false;
  std::atomic<bool> stopRequested_{false};
};

}  // namespace velmora
