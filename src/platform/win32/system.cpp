#include <windows.h>

#include <algorithm>
#include <cctype>
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

bool NamesADevice(const std::string& name) {
  if (name.starts_with("\\\\.\\")) return name.size() > 4;
  if (name.size() < 4 || name.size() > 12) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
  }
  return std::all_of(name.begin() + 3, name.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
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
