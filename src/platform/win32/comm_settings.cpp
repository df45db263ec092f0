#include "platform/win32/comm_settings.h"

#include <cctype>

namespace portflash::win32 {

DCB FillDcb(const DCB& base, const LineConfig& config) {
  DCB dcb = base;
  dcb.BaudRate = config.baudRate;
  dcb.ByteSize = config.byteSize;
  dcb.StopBits = config.stopBits;
  dcb.Parity = static_cast<BYTE>(config.parity);
  dcb.fParity = config.parityCheck ? 1 : 0;
  dcb.fBinary = config.binary ? 1 : 0;
  dcb.fOutX = config.outX ? 1 : 0;
  dcb.fInX = config.inX ? 1 : 0;
  dcb.fNull = config.nullStrip ? 1 : 0;
  dcb.fOutxDsrFlow = config.outxDsrFlow ? 1 : 0;
  dcb.fOutxCtsFlow = config.outxCtsFlow ? 1 : 0;
  // Constants only: the two-bit fields would need a narrowing conversion otherwise.
  switch (config.dtrControl) {
    case DtrControl::Disable:
      dcb.fDtrControl = DTR_CONTROL_DISABLE;
      break;
    case DtrControl::Enable:
      dcb.fDtrControl = DTR_CONTROL_ENABLE;
      break;
    case DtrControl::Handshake:
      dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
      break;
  }
  switch (config.rtsControl) {
    case RtsControl::Disable:
      dcb.fRtsControl = RTS_CONTROL_DISABLE;
      break;
    case RtsControl::Enable:
      dcb.fRtsControl = RTS_CONTROL_ENABLE;
      break;
    case RtsControl::Handshake:
      dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
      break;
    case RtsControl::Toggle:
      dcb.fRtsControl = RTS_CONTROL_TOGGLE;
      break;
  }
  return dcb;
}

COMMTIMEOUTS LinkTimeouts(DWORD writeTimeoutMs) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = writeTimeoutMs;
  return timeouts;
}

std::string DeviceName(const std::string& name) {
  if (name.size() < 4 || name.size() > 12) return name;
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) != "com"[i]) return name;
  }
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return name;
  }
  return "\\\\.\\" + name;
}

OpenError OpenErrorFor(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
      return OpenError::NotFound;
    // A COM port opened by another program (share mode 0) is refused with
    // "access denied", so that is what it nearly always means here.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return OpenError::Busy;
    case ERROR_PRIVILEGE_NOT_HELD:
      return OpenError::PermissionDenied;
    default:
      return OpenError::Other;
  }
}

std::string SystemErrorText(DWORD error) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  std::string text = length != 0 && buffer != nullptr ? std::string(buffer, length) : "";
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  const std::string code = "system error " + std::to_string(error);
  return text.empty() ? code : text + " (" + code + ")";
}

}  // namespace portflash::win32
