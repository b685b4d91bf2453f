#pragma once

#include "platform/settings_store.h"

namespace velmora {

// The classic per-user program settings area:
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<application>\<section>, one string
// value per key.
class Win32SettingsStore final : public SettingsStore {
 public:
  bool Read(std::string_view application, std::string_view section, std::string_view key,
            std::string_view defaultValue, std::string& value) override;
  bool Write(std::string_view application, std::string_view section, std::string_view key,
             std::string_view text) override;
};

}  // namespace velmora
