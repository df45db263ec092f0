#include "qt/qsettings_profile.h"

#include <QSettings>
#include <QString>
#include <QStringList>

namespace portflash {
namespace {

constexpr const char* kOrganisation = "Tarvex Corporation";
constexpr const char* kApplication = "Portflash";

QString FindName(const QStringList& names, const QString& wanted) {
  for (const QString& name : names) {
    if (name.compare(wanted, Qt::CaseInsensitive) == 0) return name;
  }
  return {};
}

// The stored spelling of section/entry, or empty when there is none.
QString FindKey(QSettings& settings, const std::string& section, const std::string& entry) {
  QString group = FindName(settings.childGroups(), QString::fromStdString(section));
  if (group.isEmpty()) return {};
  settings.beginGroup(group);
  QString key = FindName(settings.childKeys(), QString::fromStdString(entry));
  settings.endGroup();
  return key.isEmpty() ? QString() : group + "/" + key;
}

}  // namespace

QSettingsProfile::QSettingsProfile() = default;

std::string QSettingsProfile::GetString(const std::string& section, const std::string& entry) {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication);
  QString key = FindKey(settings, section, entry);
  if (key.isEmpty()) return "";
  return settings.value(key).toString().toStdString();
}

void QSettingsProfile::WriteString(const std::string& section, const std::string& entry,
                                   const std::string& value) {
  RemoveEntry(section, entry);
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication);
  settings.setFallbacksEnabled(false);
  QString group = FindName(settings.childGroups(), QString::fromStdString(section));
  if (group.isEmpty()) group = QString::fromStdString(section);
  settings.setValue(group + "/" + QString::fromStdString(entry), QString::fromStdString(value));
  settings.sync();
}

void QSettingsProfile::RemoveEntry(const std::string& section, const std::string& entry) {
  QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication);
  settings.setFallbacksEnabled(false);
  // Every spelling of the name in the user's file goes.
  for (QString key = FindKey(settings, section, entry); !key.isEmpty();
       key = FindKey(settings, section, entry)) {
    settings.remove(key);
  }
  settings.sync();
}

}  // namespace portflash
