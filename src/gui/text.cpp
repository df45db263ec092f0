#include "gui/text.h"

#include "res/string_table.h"

namespace portflash {

QString FromCore(const char* text) {
  return text != nullptr ? QString::fromLocal8Bit(text) : QString();
}

QString FromCore(const std::string& text) {
  return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToCore(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

QString StringResource(int id) {
  return FromCore(LoadStringResource(id));
}

}  // namespace portflash
