#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/machine_registry.h"
#include "platform/reg_file.h"

namespace velmora {

// HKEY_LOCAL_MACHINE read from a registry export file. The file is read again at every key
// opened, as the real registry would show a change: in one pass, in pieces, keeping only the key
// opened, so that neither the file's size nor its content sets the memory used. Only a regular
// file is read; anything else (a folder, a pipe, a device) counts as no file. Each distinct
// problem with the file is written to stderr once, naming the file and line.
class FileRegistry final : public MachineRegistry {
 public:
  explicit FileRegistry(std::string path) : path_(std::move(path)) {}

  long OpenKeyForQuery(std::string_view subKey, RegKeyHandle& key) override;
  long QueryValue(RegKeyHandle key, std::string_view valueName, uint32_t& type, uint8_t* buffer,
                  uint32_t& byteCount) override;
  long CloseKey(RegKeyHandle key) override;
  std::string NarrowToUtf8(std::string_view narrow) const override { return std::string(narrow); }

  // VELMORA_MACHINE_REG, or /etc/velmora/machine.reg when that is not set.
  static std::string DefaultPath();

  // Problems with the file written at one reading of it; the rest are counted in one line.
  static constexpr int kMaxReportedProblems = 10;

 private:
  void ReportOnce(const std::string& message);

  std::string path_;
  std::map<RegKeyHandle, RegFileKey> openKeys_;
  RegKeyHandle nextHandle_ = 1;
  std::set<std::string> reported_;
};

}  // namespace velmora
