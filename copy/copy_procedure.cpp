#include "copy/copy_procedure.h"

#include "copy/path_rules.h"

namespace velmora {
namespace {

class NoProgressDisplay final : public ProgressDisplay {
 public:
  void SetProgressText(std::string_view) override {}
  void ProcessPendingMessages() override {}
};

NoProgressDisplay g_noProgressDisplay;

}  // namespace

CopyProcedure::CopyProcedure(FileSystem& fileSystem, InstallerSettings& settings,
                             WindowsVersion& version, char separator)
    : fileSystem_(fileSystem),
      settings_(settings),
      version_(version),
      separator_(separator),
      progress_(&g_noProgressDisplay) {}

std::string CopyProcedure::Sub(const std::string& base, const char* name) const {
  return base + separator_ + name;
}

void CopyProcedure::RunCopy() {
  CopiedFileCount = 0;
  failures_ = {};
  completing_ = false;
  EntryName.clear();

  version_.DetectWindowsVersion();
  if (!LocateSource()) return;
  if (!LocateDestination()) return;
  if (!PrepareDestination()) return;

  const std::string sep(1, separator_);
  // System data and PLC master data.
  CopyFolderFiles(Sub(SourceRoot, "System") + sep, SystemFolder);
  CopyFolderFiles(Sub(Sub(SourceRoot, "System"), "trw") + sep, Sub(SystemFolder, "trw"));
  CopyFolderFiles(Sub(SourceRoot, "PCMaster") + sep, Folder1);

  // The sample circuits of the maker the installer recorded.
  const std::string mark = settings_.ReadInstallerSetting("SetupMk");
  MakerMark = mark == kGetErr ? "M" : mark;
  const std::string makerFolder = SourceRoot + sep + MakerMark;
  CopyFolderFiles(Sub(makerFolder, "解説回路") + sep, Folder2);
  CopyFolderFiles(Sub(makerFolder, "基本回路") + sep, Folder1);
  CopyFolderFiles(Sub(makerFolder, "組込回路") + sep, Folder1);

  // The manual, its images and its videos. The disk-capacity guard ahead of them compares a
  // fixed figure, so it never holds a group back.
  const std::string help = Sub(SourceRoot, "Help");
  CopyFolderFiles(help + sep, HelpFolder);
  CopyFolderFiles(Sub(help, "image") + sep, Sub(HelpFolder, "image"));
  CopyFolderFiles(Sub(help, "video") + sep, Sub(HelpFolder, "video"));

  FinishRun();
}

bool CopyProcedure::PlainFileExists(const std::string& path) {
  std::string name;
  // A listing that fails finds nothing.
  return fileSystem_.FindFirst(path, ListingFilter::kPlainFiles, name).ok() && !name.empty();
}

bool CopyProcedure::FolderExists(const std::string& path) {
  std::string name;
  return fileSystem_.FindFirst(path, ListingFilter::kFoldersAndPlainFiles, name).ok() &&
         !name.empty();
}

bool CopyProcedure::LocateSource() {
  const std::string setupDir = settings_.ReadInstallerSetting("SetupDir");
  if (setupDir == kGetErr) {
    ResultMessage = messages::kInstallCdDriveUnknown;
    return false;
  }
  SourceRoot = path_rules::WithoutTrailingSeparator(setupDir, separator_);
  if (!path_rules::IsUsablePath(SourceRoot, separator_)) {
    // No CD can be found where no path leads (a number, a byte list, a wildcard).
    ResultMessage =
        path_rules::FullWidthUpperFirstCharacter(SourceRoot) + messages::kInsertInstallCd;
    return false;
  }

  // Both are always looked for.
  const bool hasSetup = PlainFileExists(Sub(SourceRoot, "setup.exe"));
  const bool hasMasterData = FolderExists(Sub(SourceRoot, "PCMaster"));
  if (!hasSetup || !hasMasterData) {
    ResultMessage =
        path_rules::FullWidthUpperFirstCharacter(SourceRoot) + messages::kInsertInstallCd;
    return false;
  }
  return true;
}

bool CopyProcedure::LocateDestination() {
  const std::string systemDir = settings_.ReadInstallerSetting("SystemDir");
  if (systemDir == kGetErr) {
    ResultMessage = messages::kDestinationUnknown;
    return false;
  }
  InstallRoot = path_rules::CutAfterLastSeparator(systemDir, separator_);
  // A value without any separator names no folder: every destination would land at the root of
  // the current drive. Nor does a value that no path can hold.
  if (InstallRoot.empty() || !path_rules::IsUsablePath(InstallRoot, separator_)) {
    ResultMessage = messages::kDestinationUnknown;
    return false;
  }
  DestinationDrive = path_rules::LeftCharacters(InstallRoot, 2);
  if (version_.IsVistaOrLater()) {
    InstallRoot = path_rules::RelocateOutOfProgramFiles(InstallRoot, DestinationDrive, separator_);
  }
  InstallRoot = path_rules::WithoutTrailingSeparator(InstallRoot, separator_);
  return true;
}

std::string CopyProcedure::CopyRecord() {
  std::string record;
  if (!settings_.userSettings().Read(kApplicationName, kCopyRecordSection, kCopyRecordKey, "",
                                     record)) {
    record.clear();
  }
  return record;
}

bool CopyProcedure::PrepareDestination() {
  // A System folder is the mark of an earlier copy: one that finished is never touched again,
  // one that is recorded as under way is completed.
  std::string found;
  if (!fileSystem_
           .FindFirst(Sub(InstallRoot, "System"), ListingFilter::kFoldersAndPlainFiles, found)
           .ok()) {
    ResultMessage = messages::kDestinationUnreachable;
    return false;
  }
  if (!found.empty()) {
    if (CopyRecord() != InstallRoot) {
      ResultMessage = messages::kAlreadyCopied;
      return false;
    }
    completing_ = true;
  } else {
    // Recorded before the first folder is made, so a run cut off anywhere after is completed.
    settings_.userSettings().Write(kApplicationName, kCopyRecordSection, kCopyRecordKey,
                                   InstallRoot);
  }

  if (version_.IsVistaOrLater()) {
    // Needed only when the destination lies below it, and then that folder's own failure counts.
    MakeFolderWhenMissing(Sub(DestinationDrive, "Tarnwell"), /*countFailure=*/false);
  }
  SystemFolder = Sub(InstallRoot, "System");
  HelpFolder = Sub(InstallRoot, "Help");
  Folder1 = Sub(InstallRoot, "Folder_1");
  Folder2 = Sub(InstallRoot, "Folder_2");
  BackupFolder = Sub(InstallRoot, "BackUp");
  for (const std::string& folder :
       {InstallRoot, SystemFolder, Sub(SystemFolder, "trw"), HelpFolder, Sub(HelpFolder, "image"),
        Sub(HelpFolder, "video"), Folder1, Folder2, BackupFolder}) {
    MakeFolderWhenMissing(folder, /*countFailure=*/true);
  }
  return true;
}

void CopyProcedure::MakeFolderWhenMissing(const std::string& path, bool countFailure) {
  std::string found;
  // A presence test that fails leads to the creation it guards.
  if (fileSystem_.FindFirst(path, ListingFilter::kFoldersAndPlainFiles, found).ok() &&
      !found.empty()) {
    return;
  }
  const FsStatus created = fileSystem_.CreateFolder(path);
  if (created.ok() || IsFolder(path)) return;  // one the listing does not show (hidden, system)
  if (!countFailure) return;
  ++failures_.foldersNotMade;
  NoteFirstFailure(path, created);
}

bool CopyProcedure::IsFolder(const std::string& path) {
  uint32_t attributes = 0;
  return fileSystem_.GetAttributes(path, attributes).ok() &&
         (attributes & kAttributeDirectory) != 0;
}

void CopyProcedure::NoteFirstFailure(const std::string& path, FsStatus status) {
  if (!failures_.firstFailed.empty()) return;
  failures_.firstFailed = path;
  failures_.firstReason = fileSystem_.DescribeError(status.error);
}

bool CopyProcedure::AlreadyCopied(const std::string& source, const std::string& destination) {
  // Only a run completing an earlier one skips files: they arrive read-only from CD media and
  // could not be replaced. A copy never leaves a partial file under its final name, so a file
  // of the same size and time as its source is a whole copy.
  if (!completing_) return false;
  FileStamp from;
  FileStamp to;
  return fileSystem_.GetFileStamp(source, from).ok() &&
         fileSystem_.GetFileStamp(destination, to).ok() && from == to;
}

void CopyProcedure::CopyFolderFiles(const std::string& listedFolder,
                                    const std::string& destination) {
  ListedFolder = listedFolder;
  const FsStatus listed =
      fileSystem_.FindFirst(ListedFolder, ListingFilter::kFoldersAndPlainFiles, EntryName);
  if (!listed.ok()) {
    ++failures_.foldersNotRead;
    NoteFirstFailure(ListedFolder, listed);
    EntryName.clear();
    return;
  }
  while (!EntryName.empty()) {
    if (EntryName != "." && EntryName != "..") {
      const std::string source = ListedFolder + EntryName;
      uint32_t attributes = 0;  // unreadable attributes: taken for a file
      fileSystem_.GetAttributes(source, attributes);
      if ((attributes & kAttributeDirectory) == 0) {
        ++CopiedFileCount;
        // The label shows the number of the file being copied.
        progress_->SetProgressText(std::to_string(CopiedFileCount));
        progress_->ProcessPendingMessages();
        const std::string target = destination + separator_ + EntryName;
        if (!AlreadyCopied(source, target)) {
          const FsStatus copied = fileSystem_.CopyFileOver(source, target, *this);
          if (!copied.ok()) {
            ++failures_.filesNotCopied;
            NoteFirstFailure(target, copied);
          }
        }
      }
    }
    const FsStatus next = fileSystem_.FindNext(EntryName);
    if (!next.ok()) {
      // A listing that cannot go on ends rather than handle the same name again.
      ++failures_.foldersNotRead;
      NoteFirstFailure(ListedFolder, next);
      EntryName.clear();
    }
  }
}

void CopyProcedure::FinishRun() {
  // Nothing may tell a later run that this one finished, nor that a copy of it stands, before
  // its copies are on the disk: a power loss could leave a file of the right size and time with
  // no content, and it would be taken as copied for good.
  const FsStatus flushed = fileSystem_.FlushCopies(InstallRoot);
  if (!flushed.ok()) {
    failures_.notWrittenToDisk = true;
    NoteFirstFailure(InstallRoot, flushed);
  }
  progress_->SetProgressText("");
  progress_->ProcessPendingMessages();
  if (failures_.any()) {
    // The record and the maker mark stay, so the next run completes this copy.
    ResultMessage = messages::CopyFailureText(failures_);
    return;
  }
  settings_.userSettings().Write(kApplicationName, kCopyRecordSection, kCopyRecordKey, "");
  settings_.WriteUserSetting("SetupMk", "Null");
}

}  // namespace velmora
