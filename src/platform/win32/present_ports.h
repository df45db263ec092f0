#pragma once
#include <string>
#include <vector>

namespace portflash::win32 {

struct ComPortEntry {
  std::string name;          // "COM3"
  std::string friendlyName;  // "USB Serial Port (COM3)"; may be empty
  bool usb = false;
};

// The COM ports present now: those in HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (where
// every serial driver registers its ports), with the friendly names that SetupAPI
// has for them.
std::vector<ComPortEntry> ListComPorts();

}  // namespace portflash::win32
