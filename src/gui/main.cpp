#include <QApplication>

#include "gui/program.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("portflash"));
  return portflash::RunPortflash();
}
