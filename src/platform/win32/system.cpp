#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/system.h"

namespace portflash::system {

std::string DefaultComDevice(unsigned number) {
  // The device namespace: "COM10" and above open only through it.
  return "\\\\.\\COM" + std::to_string(number);
}

// Windows does not say which process holds a COM port open.
std::string FindPortHolder(const std::string&) {
  return "";
}

// No group decides who may open a device here.
std::string DeviceGroup(const std::string&) {
  return "";
}

std::string ExecutablePath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return "";
    if (length < buffer.size()) return std::string(buffer.data(), length);
    if (buffer.size() >= 32768) return "";
    buffer.resize(buffer.size() * 2);
  }
}

const char* PathSeparators() {
  return "\\/";
}

std::string NativePath(const std::string& path) {
  std::string native = path;
  std::replace(native.begin(), native.end(), '/', '\\');
  return native;
}

}  // namespace portflash::system
