#include "gui/help.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace portflash {

QString FindHelpPage(const QString& appDir) {
  QStringList candidates;
  if (!appDir.isEmpty()) {
    const QDir dir(appDir);
    candidates << dir.filePath(QStringLiteral("help/start.htm"))
               // Installed: <prefix>/lib/portflash/ or <prefix>/bin/.
               << dir.filePath(QStringLiteral("../../share/doc/portflash/help/start.htm"))
               << dir.filePath(QStringLiteral("../share/doc/portflash/help/start.htm"));
  }
#ifdef PORTFLASH_SOURCE_HELP
  candidates << QStringLiteral(PORTFLASH_SOURCE_HELP);
#endif
  for (const QString& candidate : candidates) {
    const QFileInfo page(candidate);
    if (page.isFile() && page.isReadable()) return page.canonicalFilePath();
  }
  return {};
}

bool ShowHelpPage(const QString& appDir) {
  const QString page = FindHelpPage(appDir);
  if (page.isEmpty()) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}

}  // namespace portflash
