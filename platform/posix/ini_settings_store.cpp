#include "platform/posix/ini_settings_store.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <cstdlib>

namespace velmora {
namespace {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString SettingKey(std::string_view section, std::string_view key) {
  return ToQString(section) + QLatin1Char('/') + ToQString(key);
}

}  // namespace

std::string IniSettingsStore::DefaultConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg != '\0') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config";
}

std::string IniSettingsStore::FilePath(std::string_view application) const {
  const std::string app(application);
  return configFolder_ + "/" + app + "/" + app + ".ini";
}

bool IniSettingsStore::Read(std::string_view application, std::string_view section,
                            std::string_view key, std::string_view defaultValue,
                            std::string& value) {
  const QString path = QString::fromStdString(FilePath(application));
  const QFileInfo info(path);
  if (info.exists() && !info.isReadable()) return false;
  QSettings settings(path, QSettings::IniFormat);
  if (settings.status() != QSettings::NoError) return false;
  const QVariant stored = settings.value(SettingKey(section, key));
  if (!stored.isValid()) {
    value = std::string(defaultValue);
    return true;
  }
  // An unquoted value with commas reads as a list; the text is its items joined again.
  const QString text = stored.typeId() == QMetaType::QStringList
                           ? stored.toStringList().join(QLatin1Char(','))
                           : stored.toString();
  value = text.toStdString();
  return true;
}

bool IniSettingsStore::Write(std::string_view application, std::string_view section,
                             std::string_view key, std::string_view text) {
  const QString path = QString::fromStdString(FilePath(application));
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
  QSettings settings(path, QSettings::IniFormat);
  settings.setValue(SettingKey(section, key), ToQString(text));
  settings.sync();
  return settings.status() == QSettings::NoError;
}

}  // namespace velmora
