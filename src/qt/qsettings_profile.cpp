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

// The stored spelling of section/entry, or empty when there is none. A file may
// spell the section in more than one way; each spelling is searched.
QString FindKey(QSettings& settings, const std::string& section, const std::string& entry) {
  const QString wantedGroup = QString::fromStdString(section);
  const QString wantedKey = QString::fromStdString(entry);
  for (const QString& group : settings.childGroups()) {
    if (group.compare(wantedGroup, Qt::CaseInsensitive) != 0) continue;
    settings.beginGroup(group);
    QString key = FindName(settings.childKeys(), wantedKey);
    settings.endGroup();
    if (!key.isEmpty()) return group + "/" + key;
  }
  return {};
}

}  // namespace

QSettingsProfile::QSettingsProfile() = default;

std::string QSettingsProfile::GetString(const std::string& section, const std::string& entry) {
  // The user's file alone first: in the merged view an entry spelt differently in
  // the user's and the system's files counts twice, and the system's could win.
  // Then the merged view, which holds every system file.
  for (bool fallbacks : {false, true}) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication);
    settings.setFallbacksEnabled(fallbacks);
    QString key = FindKey(settings, section, entry);
    if (!key.isEmpty()) return settings.value(key).toString().toStdString();
  }
  return "";
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

std::unique_ptr<Profile> OpenUserProfile() {
  return std::make_unique<QSettingsProfile>();
}

}  // namespace portflash
