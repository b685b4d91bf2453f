#include "copy/copy_procedure.h"

#include "copy/messages.h"
#include "copy/path_rules.h"

namespace velmora {

void CopyProcedure::RunCopy() {
  version_.DetectWindowsVersion();
  if (!LocateSource()) return;
  if (!LocateDestination()) return;
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

  const std::string sep(1, separator_);
  // Both are always looked for.
  const bool hasSetup = PlainFileExists(SourceRoot + sep + "setup.exe");
  const bool hasMasterData = FolderExists(SourceRoot + sep + "PCMaster");
  if (!hasSetup || !hasMasterData) {
    ResultMessage = path_rules::FullWidthUpperFirstCharacter(SourceRoot) + messages::kInsertInstallCd;
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
  // the current drive.
  if (InstallRoot.empty()) {
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

}  // namespace velmora
