#include "copy/copy_procedure.h"

#include "copy/path_rules.h"

namespace velmora {
namespace {

class NoProgressDisplay final : public ProgressDisplay {
 public:
  void SetProgressText(std::string_view) override {}
};

NoProgressDisplay g_noProgressDisplay;

constexpr const char* kMarkerHeading =
    "velmora-cdcopy: a copy from the install CD is under way here";
constexpr const char* kStampsTrusted = "stamps: trusted";
constexpr const char* kStampsNotTrusted = "stamps: not trusted";
constexpr size_t kMarkerLimit = 4096;

// Ends the run's listing however the run ends, so no handle of it holds the CD.
class ListingEnder {
 public:
  explicit ListingEnder(FileSystem& fileSystem) : fileSystem_(fileSystem) {}
  ~ListingEnder() { fileSystem_.EndListing(); }
  ListingEnder(const ListingEnder&) = delete;
  ListingEnder& operator=(const ListingEnder&) = delete;

 private:
  FileSystem& fileSystem_;
};

}  // namespace

std::string CopyMarkerText(bool stampsTrusted) {
  return std::string(kMarkerHeading) + "\n" + (stampsTrusted ? kStampsTrusted : kStampsNotTrusted) +
         "\n";
}

bool CopyMarkerTrustsStamps(std::string_view text) {
  // Anything but the exact line written after a good flush trusts nothing.
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line == kStampsTrusted) return true;
    start = end + 1;
  }
  return false;
}

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
  trustStamps_ = false;
  failedCopyLeftAFile_ = false;
  written_.clear();
  earlierRecordSet_ = false;
  SourceRoot.clear();
  InstallRoot.clear();
  Outcome = RunOutcome::kCompleted;
  EntryName.clear();
  const ListingEnder listingEnder(fileSystem_);

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

  if (Stopping()) {
    // The record stays, so the next run completes the copy.
    ResultMessage = messages::kStopped;
    Outcome = RunOutcome::kStopped;
    return;
  }
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
  Outcome = RunOutcome::kNotLocated;
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
  Outcome = RunOutcome::kCompleted;
  return true;
}

bool CopyProcedure::LocateDestination() {
  Outcome = RunOutcome::kNotLocated;
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
  Outcome = RunOutcome::kCompleted;
  return true;
}

std::string CopyProcedure::EarlierRecord() {
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
    Outcome = RunOutcome::kNotLocated;
    return false;
  }
  earlierRecordSet_ = EarlierRecord() == InstallRoot;
  if (!found.empty()) {
    std::optional<std::string> marker;
    const FsStatus read =
        fileSystem_.ReadSmallFile(Sub(InstallRoot, kCopyMarkerName), kMarkerLimit, marker);
    if (!read.ok() || marker.has_value()) {
      // A marker that is there but cannot be read is still a copy under way.
      completing_ = true;
      trustStamps_ = read.ok() && CopyMarkerTrustsStamps(*marker);
    } else if (earlierRecordSet_) {
      completing_ = true;  // how its copies were flushed is not known
    } else {
      ResultMessage = messages::kAlreadyCopied;
      Outcome = RunOutcome::kAlreadyCopied;
      return false;
    }
  }

  if (version_.IsVistaOrLater()) {
    // Needed only when the destination lies below it, and then that folder's own failure counts.
    MakeFolderWhenMissing(Sub(DestinationDrive, "Tarnwell"), /*countFailure=*/false);
  }
  if (!RecordCopyUnderWay()) return false;

  SystemFolder = Sub(InstallRoot, "System");
  HelpFolder = Sub(InstallRoot, "Help");
  Folder1 = Sub(InstallRoot, "Folder_1");
  Folder2 = Sub(InstallRoot, "Folder_2");
  BackupFolder = Sub(InstallRoot, "BackUp");
  for (const std::string& folder :
       {SystemFolder, Sub(SystemFolder, "trw"), HelpFolder, Sub(HelpFolder, "image"),
        Sub(HelpFolder, "video"), Folder1, Folder2, BackupFolder}) {
    MakeFolderWhenMissing(folder, /*countFailure=*/true);
  }
  // What copies cut off in an earlier run left under their temporary names goes before any copy
  // (in the root, what a record's replacement left).
  for (const std::string& folder :
       {InstallRoot, SystemFolder, Sub(SystemFolder, "trw"), Folder1, Folder2, HelpFolder,
        Sub(HelpFolder, "image"), Sub(HelpFolder, "video")}) {
    fileSystem_.RemoveLeftoverCopies(folder);
  }
  return true;
}

bool CopyProcedure::RecordCopyUnderWay() {
  // The destination root first, then the record in it, on the disk before any folder of the tree:
  // a run cut off anywhere after this is completed by the next, whoever runs it.
  std::string found;
  FsStatus status;
  if (!(fileSystem_.FindFirst(InstallRoot, ListingFilter::kFoldersAndPlainFiles, found).ok() &&
        !found.empty())) {
    status = fileSystem_.CreateFolder(InstallRoot);
    if (!status.ok() && IsFolder(InstallRoot)) status = {};  // there, but hidden or system
  }
  if (status.ok()) {
    // Whatever this run copies is not on the disk until its end: until then no stamp is trusted.
    status = fileSystem_.WriteHiddenFileDurably(Sub(InstallRoot, kCopyMarkerName),
                                                CopyMarkerText(/*stampsTrusted=*/false));
  }
  if (status.ok()) return true;
  ResultMessage =
      messages::DestinationNotWritableText(InstallRoot, fileSystem_.DescribeError(status.error));
  Outcome = RunOutcome::kNotLocated;
  return false;
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
  NoteFailure(path, created);
}

bool CopyProcedure::IsFolder(const std::string& path) {
  uint32_t attributes = 0;
  return fileSystem_.GetAttributes(path, attributes).ok() &&
         (attributes & kAttributeDirectory) != 0;
}

void CopyProcedure::NoteFailure(const std::string& path, FsStatus status) {
  failures_.notes.push_back({path, fileSystem_.DescribeError(status.error)});
}

bool CopyProcedure::AlreadyCopied(const std::string& source, const std::string& destination) {
  // Only a run completing an earlier one whose copies all reached the disk skips files: a copy
  // is named only once whole and on the disk, so one of the same size and time as its source is
  // a whole copy.
  if (!completing_ || !trustStamps_) return false;
  if (destination.compare(0, Folder1.size() + 1, Folder1 + separator_) == 0 &&
      written_.count(destination) != 0) {
    return false;
  }
  FileStamp from;
  FileStamp to;
  return fileSystem_.GetFileStamp(source, from).ok() &&
         fileSystem_.GetFileStamp(destination, to).ok() && from.Matches(to);
}

FsStatus CopyProcedure::Copy(const std::string& source, const std::string& destination) {
  // Folder_1 is the one folder that more than one CD folder copies into.
  if (destination.compare(0, Folder1.size() + 1, Folder1 + separator_) == 0) {
    written_.insert(destination);
  }
  FsStatus copied = fileSystem_.CopyFileOver(source, destination, *this);
  // Copies carry the CD's read-only attribute, and a read-only file is not replaced: an earlier
  // copy in the way is made writable once a copy is about to replace it, and only then.
  uint32_t attributes = 0;
  if (!copied.ok() && !Stopping() && fileSystem_.GetAttributes(destination, attributes).ok() &&
      (attributes & (kAttributeDirectory | kAttributeReadOnly)) == kAttributeReadOnly &&
      fileSystem_.ClearReadOnly(destination).ok()) {
    copied = fileSystem_.CopyFileOver(source, destination, *this);
  }
  return copied;
}

void CopyProcedure::NoteFailedCopy(const std::string& destination, FsStatus status) {
  ++failures_.filesNotCopied;
  NoteFailure(destination, status);
  // What stands under the name is not the CD's file: it goes, so that no later run can take it
  // for a whole copy by its size and time.
  if (!fileSystem_.RemoveFile(destination).ok()) failedCopyLeftAFile_ = true;
}

void CopyProcedure::NoteLostCopies() {
  for (const FileSystem::LostCopy& lost : fileSystem_.TakeLostCopies()) {
    NoteFailedCopy(lost.destination, FsStatus{lost.error});
  }
}

void CopyProcedure::CopyFolderFiles(const std::string& listedFolder,
                                    const std::string& destination) {
  if (Stopping()) return;
  ListedFolder = listedFolder;
  const FsStatus listed =
      fileSystem_.FindFirst(ListedFolder, ListingFilter::kFoldersAndPlainFiles, EntryName);
  if (!listed.ok()) {
    ++failures_.foldersNotRead;
    NoteFailure(ListedFolder, listed);
    EntryName.clear();
    return;
  }
  while (!EntryName.empty()) {
    if (Stopping()) {
      fileSystem_.EndListing();
      EntryName.clear();
      return;
    }
    if (EntryName != "." && EntryName != "..") {
      const std::string source = ListedFolder + EntryName;
      uint32_t attributes = 0;  // unreadable attributes: taken for a file
      fileSystem_.GetAttributes(source, attributes);
      if ((attributes & kAttributeDirectory) == 0) {
        ++CopiedFileCount;
        // The label shows the number of the file being copied.
        progress_->SetProgressText(std::to_string(CopiedFileCount));
        const std::string target = destination + separator_ + EntryName;
        if (!AlreadyCopied(source, target)) {
          const FsStatus copied = Copy(source, target);
          if (!copied.ok() && !Stopping()) NoteFailedCopy(target, copied);
          NoteLostCopies();
        }
      }
    }
    const FsStatus next = fileSystem_.FindNext(EntryName);
    if (!next.ok()) {
      // A listing that cannot go on ends rather than handle the same name again.
      ++failures_.foldersNotRead;
      NoteFailure(ListedFolder, next);
      EntryName.clear();
    }
  }
}

void CopyProcedure::FinishRun() {
  // Nothing may tell a later run that this one finished, nor that a copy of it stands, before
  // its copies are on the disk: a power loss could leave a file of the right size and time with
  // no content, and it would be taken as copied for good.
  const FsStatus flushed = fileSystem_.FlushCopies(InstallRoot);
  NoteLostCopies();
  if (!flushed.ok()) {
    failures_.notWrittenToDisk = true;
    NoteFailure(InstallRoot, flushed);
  }
  progress_->SetProgressText("");
  const std::string marker = Sub(InstallRoot, kCopyMarkerName);
  if (failures_.any()) {
    // The record stays, and the maker mark, so the next run completes this copy. Once every copy
    // that stands is known to be on the disk, that run may skip the ones whose stamps match.
    if (flushed.ok() && !failedCopyLeftAFile_) {
      fileSystem_.WriteHiddenFileDurably(marker, CopyMarkerText(true));
    }
    ResultMessage = messages::CopyFailureText(failures_);
    Outcome = RunOutcome::kFailed;
    return;
  }
  // A marker that cannot be removed costs the next run a repeat of the copy, no more.
  fileSystem_.RemoveFile(marker);
  if (earlierRecordSet_) {
    settings_.userSettings().Write(kApplicationName, kCopyRecordSection, kCopyRecordKey, "");
  }
  settings_.WriteUserSetting("SetupMk", "Null");
  Outcome = RunOutcome::kCompleted;
}

}  // namespace velmora
