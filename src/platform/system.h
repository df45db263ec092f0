#pragma once
// What differs between the systems outside the serial platform itself.
#include <string>

namespace portflash::system {

// The device "COMn" opens when the profile does not map it.
std::string DefaultComDevice(unsigned number);
// The program that holds a device open, as "name, process pid"; "" when the
// system cannot tell.
std::string FindPortHolder(const std::string& devicePath);
// The group that owns a device, where a group decides who may open it; else "".
std::string DeviceGroup(const std::string& devicePath);
// This executable's full path with every link resolved; "" when unknown.
std::string ExecutablePath();
// True when a port the system reports present is named so that it opens as it
// is: a device path ("/dev/ttyUSB0"); on Windows "COMn" or a "\\.\" device name.
bool NamesADevice(const std::string& name);
// The characters that end a directory name in a path ("/"; "\\" and "/" on Windows).
const char* PathSeparators();
// A path the user gave, in the form the system shows ("/" turned to "\\" on Windows).
std::string NativePath(const std::string& path);

}  // namespace portflash::system
