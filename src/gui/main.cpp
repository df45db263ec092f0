#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "gui/program.h"
#include "gui/setup_pages.h"
#include "qt/qsettings_profile.h"
#include "res/string_table.h"

namespace {

// The welcome page's two versions, without a window: for scripts and support calls.
int PrintVersion() {
  portflash::QSettingsProfile profile;
  const std::string text = std::string("portflash ") + PORTFLASH_VERSION + "\n" +
                           portflash::LoadStringResource(portflash::IDS_UTILITY_VERSION) + "\n" +
                           "Installed version: " + portflash::InstallVersionText(profile) + "\n";
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) return PrintVersion();
  }
  QApplication application(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("portflash"));
  return portflash::RunPortflash();
}
