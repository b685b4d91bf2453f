#pragma once

#include <string>

#include "copy/copy_runner.h"
#include "platform/file_system.h"
#include "platform/installer_settings.h"
#include "platform/windows_version.h"

namespace velmora {

// One copy run from the install CD to the destination the installer recorded. Its state lives
// for the program's life and is overwritten by each run.
class CopyProcedure final : public CopyRunner {
 public:
  CopyProcedure(FileSystem& fileSystem, InstallerSettings& settings, WindowsVersion& version,
                char separator)
      : fileSystem_(fileSystem), settings_(settings), version_(version), separator_(separator) {}

  // Runs one copy. Never fails: its only report is ResultMessage.
  void RunCopy() override;

  std::string SourceRoot;   // the install CD folder, no trailing separator
  std::string InstallRoot;  // the destination root, no trailing separator once final
  std::string DestinationDrive;

 private:
  // Each returns false, with ResultMessage set, when the run has to stop.
  bool LocateSource();
  bool LocateDestination();
  bool PlainFileExists(const std::string& path);
  bool FolderExists(const std::string& path);

  FileSystem& fileSystem_;
  InstallerSettings& settings_;
  WindowsVersion& version_;
  char separator_;
};

}  // namespace velmora
