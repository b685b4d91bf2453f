#pragma once

#include <cstdint>
#include <string>

#include "copy/copy_runner.h"
#include "copy/messages.h"
#include "copy/progress_display.h"
#include "platform/file_system.h"
#include "platform/installer_settings.h"
#include "platform/windows_version.h"

namespace velmora {

// Where a copy under way is recorded, so that a run cut off or failed is completed by the next
// one: the per-user settings, application "Velmora", section "CdCopy", key "UnderWay", holding
// the destination root. Empty when no copy is under way.
inline constexpr const char* kCopyRecordSection = "CdCopy";
inline constexpr const char* kCopyRecordKey = "UnderWay";

// One copy run from the install CD to the destination the installer recorded. Its state lives
// for the program's life and is overwritten by each run.
class CopyProcedure final : public CopyRunner, private CopyProgress {
 public:
  CopyProcedure(FileSystem& fileSystem, InstallerSettings& settings, WindowsVersion& version,
                char separator);

  // Where the run shows its count of copied files; none until set.
  void SetProgressDisplay(ProgressDisplay& display) { progress_ = &display; }

  // Runs one copy. Never fails: its only report is ResultMessage.
  void RunCopy() override;

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
  bool completingEarlierRun() const { return completing_; }

 private:
  // Each returns false, with ResultMessage set, when the run has to stop.
  bool LocateSource();
  bool LocateDestination();
  bool PrepareDestination();

  void MakeFolderWhenMissing(const std::string& path, bool countFailure);
  bool IsFolder(const std::string& path);
  // The first failure of a run is named in its report, with the system's reason.
  void NoteFirstFailure(const std::string& path, FsStatus status);
  void CopyFolderFiles(const std::string& listedFolder, const std::string& destination);
  bool AlreadyCopied(const std::string& source, const std::string& destination);
  void FinishRun();
  // Between the chunks of a long copy, as between files, the window repaints.
  void ChunkCopied() override { progress_->ProcessPendingMessages(); }

  bool PlainFileExists(const std::string& path);
  bool FolderExists(const std::string& path);
  std::string Sub(const std::string& base, const char* name) const;
  std::string CopyRecord();

  FileSystem& fileSystem_;
  InstallerSettings& settings_;
  WindowsVersion& version_;
  char separator_;
  ProgressDisplay* progress_;
  messages::CopyFailures failures_;
  bool completing_ = false;
};

}  // namespace velmora
