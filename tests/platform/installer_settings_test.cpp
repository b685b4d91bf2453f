#include <gtest/gtest.h>

#include "platform/installer_settings.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_settings_store.h"

namespace velmora {
namespace {

constexpr const char* kKey = "Software\\Velmora\\Info";

struct LookupRow {
  const char* name;
  const char* registryValue;  // nullptr: not in the registry
  const char* userValue;      // nullptr: not in the per-user store
  const char* expected;
  bool asksUserStore;
};

TEST(InstallerSettingsTest, RegistryFirstThenThePerUserStoreOnlyForGetErr) {
  const LookupRow rows[] = {
      {"registry value", "D:\\", "C:\\", "D:\\", false},
      {"empty registry value is an answer", "", "C:\\", "", false},
      {"GetErr in the registry falls back", "GetErr", "C:\\", "C:\\", true},
      {"geterr is an ordinary answer", "geterr", "C:\\", "geterr", false},
      {"neither store", nullptr, nullptr, "GetErr", true},
      {"per-user only", nullptr, "C:\\", "C:\\", true},
      {"empty per-user value", nullptr, "", "", true},
  };
  for (const LookupRow& row : rows) {
    testing::FakeRegistry registry;
    registry.AddKey(kKey);
    if (row.registryValue != nullptr) registry.SetString(kKey, "SetupDir", row.registryValue);
    testing::FakeSettingsStore store;
    if (row.userValue != nullptr) store.Set("Velmora", "Info", "SetupDir", row.userValue);

    InstallerSettings settings(registry, store);
    EXPECT_EQ(settings.ReadInstallerSetting("SetupDir"), row.expected) << row.name;
    EXPECT_EQ(store.readCount, row.asksUserStore ? 1 : 0) << row.name;
    EXPECT_EQ(settings.reader().RegKeyPath, "Velmora\\Info") << row.name;
    EXPECT_EQ(settings.reader().RegValueName, "SetupDir") << row.name;
  }
}

TEST(InstallerSettingsTest, AFailedPerUserReadLeavesGetErr) {
  testing::FakeRegistry registry;
  testing::FakeSettingsStore store;
  store.Set("Velmora", "Info", "SystemDir", "C:\\X\\System");
  store.failReads = true;
  InstallerSettings settings(registry, store);
  EXPECT_EQ(settings.ReadInstallerSetting("SystemDir"), "GetErr");
}

TEST(InstallerSettingsTest, WritesGoToThePerUserStore) {
  testing::FakeRegistry registry;
  testing::FakeSettingsStore store;
  InstallerSettings settings(registry, store);
  EXPECT_TRUE(settings.WriteUserSetting("SetupMk", "Null"));
  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "Null");
  store.failWrites = true;
  EXPECT_FALSE(settings.WriteUserSetting("SetupMk", "M"));
  EXPECT_EQ(store.Get("Velmora", "Info", "SetupMk"), "Null");
}

}  // namespace
}  // namespace velmora
