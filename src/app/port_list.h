#pragma once
#include <string>
#include <vector>

namespace portflash {

// A serial device that the system reports as present.
struct PresentPort {
  std::string path;         // "/dev/ttyUSB0"
  std::string description;  // "FT232R USB UART"; may be empty
  bool usb = false;         // a USB adapter (it has a vendor id)
};

// One line of the port list: the name that is stored and opened, and what is shown.
struct PortChoice {
  std::string name;   // "COM1" or a device path
  std::string label;  // "COM1", "/dev/ttyUSB0 - FT232R USB UART"
  std::string note;   // for COMn the device it opens; for a device its description
};

inline constexpr int kComPortChoices = 4;

// "COM1" to "COM4", then the present devices, USB adapters first, each group in
// name order (ttyUSB2 before ttyUSB10). A device that one of the COM names
// already opens is not listed twice. comDevices[i] is the device of COM<i+1>.
std::vector<PortChoice> BuildPortList(std::vector<PresentPort> present,
                                      const std::vector<std::string>& comDevices);

// The serial devices present now, as the system's device database reports them.
// Defined by the system's port finder (src/qt: QSerialPortInfo), which the
// program links beside the core.
std::vector<PresentPort> FindPresentPorts();

// BuildPortList over `present` (FindPresentPorts()), the COM names resolved
// through the current application's profile ("Ports").
std::vector<PortChoice> AvailablePortChoices(std::vector<PresentPort> present);

}  // namespace portflash
