#include "platform/win32/present_ports.h"

#include "app/port_list.h"

// clang-format off
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <map>

namespace portflash::win32 {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::vector<std::string> PortsInDeviceMap() {
  std::vector<std::string> names;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return names;
  }
  for (DWORD index = 0;; ++index) {
    char valueName[256];
    DWORD nameSize = sizeof valueName;
    BYTE data[256];
    DWORD dataSize = sizeof data - 1;
    DWORD type = 0;
    LONG status = RegEnumValueA(key, index, valueName, &nameSize, nullptr, &type, data, &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataSize] = 0;
    std::string name = reinterpret_cast<const char*>(data);
    if (!name.empty()) names.push_back(name);
  }
  RegCloseKey(key);
  return names;
}

struct DeviceInfo {
  std::string friendlyName;
  bool usb = false;
};

std::string DeviceProperty(HDEVINFO devices, SP_DEVINFO_DATA* device, DWORD property) {
  char buffer[512];
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyA(devices, device, property, &type,
                                         reinterpret_cast<BYTE*>(buffer), sizeof buffer - 1,
                                         nullptr) ||
      type != REG_SZ) {
    return "";
  }
  buffer[sizeof buffer - 1] = 0;
  return buffer;
}

// Friendly names of the devices in the Ports class, by the port name each uses.
std::map<std::string, DeviceInfo> PortsClassDevices() {
  std::map<std::string, DeviceInfo> found;
  HDEVINFO devices = SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return found;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
    HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) continue;
    char portName[64];
    DWORD size = sizeof portName - 1;
    DWORD type = 0;
    LONG status =
        RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    portName[size] = 0;
    DeviceInfo info;
    info.friendlyName = DeviceProperty(devices, &device, SPDRP_FRIENDLYNAME);
    if (info.friendlyName.empty())
      info.friendlyName = DeviceProperty(devices, &device, SPDRP_DEVICEDESC);
    info.usb = Upper(DeviceProperty(devices, &device, SPDRP_ENUMERATOR_NAME)) == "USB" ||
               Upper(DeviceProperty(devices, &device, SPDRP_ENUMERATOR_NAME)) == "FTDIBUS";
    found[Upper(portName)] = info;
  }
  SetupDiDestroyDeviceInfoList(devices);
  return found;
}

}  // namespace

std::vector<ComPortEntry> ListComPorts() {
  const std::map<std::string, DeviceInfo> described = PortsClassDevices();
  std::vector<ComPortEntry> ports;
  for (const std::string& name : PortsInDeviceMap()) {
    ComPortEntry entry;
    entry.name = name;
    auto it = described.find(Upper(name));
    if (it != described.end()) {
      entry.friendlyName = it->second.friendlyName;
      entry.usb = it->second.usb;
    }
    ports.push_back(entry);
  }
  return ports;
}

}  // namespace portflash::win32

namespace portflash {

std::vector<PresentPort> FindPresentPorts() {
  std::vector<PresentPort> ports;
  for (const win32::ComPortEntry& entry : win32::ListComPorts()) {
    ports.push_back({entry.name, entry.friendlyName, entry.usb});
  }
  return ports;
}

}  // namespace portflash
