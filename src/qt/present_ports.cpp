// The system's port finder on Linux: Qt's serial-port database.
#include <QSerialPortInfo>

#include "app/port_list.h"

namespace portflash {
namespace {

std::string ToStd(const QString& text) {
  return text.toLocal8Bit().toStdString();
}

}  // namespace

std::vector<PresentPort> FindPresentPorts() {
  std::vector<PresentPort> ports;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    ports.push_back(
        {ToStd(info.systemLocation()), ToStd(info.description()), info.hasVendorIdentifier()});
  }
  return ports;
}

}  // namespace portflash
