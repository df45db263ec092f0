#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>

#include "engine/serial_platform.h"
#include "platform/win32/comm_settings.h"
#include "platform/win32/win32_serial_platform.h"

namespace portflash {
namespace win32 {
namespace {

using SteadyClock = std::chrono::steady_clock;

HANDLE ToHandle(SerialHandle port) {
  return reinterpret_cast<HANDLE>(port);
}

void Fail(OpenFailure* why, OpenError kind, DWORD error) {
  if (why == nullptr) return;
  why->kind = kind;
  why->error = 0;  // not an errno: the text says it all
  why->detail = SystemErrorText(error);
}

bool DeviceGone(DWORD error) {
  return error == ERROR_INVALID_HANDLE || error == ERROR_BAD_COMMAND ||
         error == ERROR_DEVICE_REMOVED || error == ERROR_GEN_FAILURE ||
         error == ERROR_ACCESS_DENIED || error == ERROR_DEVICE_NOT_CONNECTED;
}

}  // namespace

SerialHandle Win32SerialPlatform::Open(const std::string& devicePath, OpenFailure* why) {
  const std::string name = DeviceName(devicePath);
  // Share mode 0: a port is one program's at a time. Not inheritable: a child
  // process would keep the port busy after we close it.
  HANDLE handle = m_api.createFile(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    Fail(why, OpenErrorFor(error), error);
    return kNoSerialHandle;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (m_api.getFileType(handle) != FILE_TYPE_CHAR || m_api.getCommState(handle, &dcb) == 0) {
    m_api.closeHandle(handle);
    Fail(why, OpenError::NotSerial, ERROR_NOT_SUPPORTED);
    return kNoSerialHandle;
  }
  // Without these time-outs a read would wait for a byte: never use such a port.
  COMMTIMEOUTS timeouts = LinkTimeouts(kWriteTimeoutMs);
  if (m_api.setCommTimeouts(handle, &timeouts) == 0) {
    const DWORD error = GetLastError();
    m_api.closeHandle(handle);
    Fail(why, OpenError::Other, error);
    return kNoSerialHandle;
  }
  if (why != nullptr) *why = OpenFailure{};
  return reinterpret_cast<SerialHandle>(handle);
}

void Win32SerialPlatform::Close(SerialHandle port) {
  if (port == kNoSerialHandle) return;
  m_api.closeHandle(ToHandle(port));
}

bool Win32SerialPlatform::GetSettings(SerialHandle port, SavedLineSettings* out) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (m_api.getCommState(ToHandle(port), &dcb) == 0) return false;
  static_assert(sizeof dcb <= sizeof out->bytes);
  std::memcpy(out->bytes.data(), &dcb, sizeof dcb);
  out->size = sizeof dcb;
  return true;
}

bool Win32SerialPlatform::SetSettings(SerialHandle port, const SavedLineSettings& settings) {
  DCB dcb{};
  if (settings.size != sizeof dcb) return false;
  std::memcpy(&dcb, settings.bytes.data(), sizeof dcb);
  return m_api.setCommState(ToHandle(port), &dcb) != 0;
}

bool Win32SerialPlatform::Configure(SerialHandle port, const SavedLineSettings& base,
                                    const LineConfig& config) {
  HANDLE handle = ToHandle(port);
  DCB before{};
  before.DCBlength = sizeof before;
  if (m_api.getCommState(handle, &before) == 0) return false;
  DCB start = before;
  if (base.size == sizeof start) std::memcpy(&start, base.bytes.data(), sizeof start);
  DCB wanted = FillDcb(start, config);
  if (m_api.setCommState(handle, &wanted) != 0) return true;
  // A driver may have applied part (the rate) before refusing the rest.
  m_api.setCommState(handle, &before);
  return false;
}

IoStatus Win32SerialPlatform::ReadByte(SerialHandle port, std::uint8_t* byte) {
  HANDLE handle = ToHandle(port);
  // A spoilt byte may wait in the queue behind the flag: drop what is queued.
  if (IoStatus status = CheckLine(handle); status != IoStatus::Ok) return status;
  DWORD got = 0;
  if (m_api.readFile(handle, byte, 1, &got, nullptr) == 0) {
    const DWORD error = GetLastError();
    if (error == ERROR_OPERATION_ABORTED) {  // fAbortOnError: the next check clears it
      CheckLine(handle);
      return IoStatus::WouldBlock;
    }
    return DeviceGone(error) ? IoStatus::HangUp : IoStatus::Error;
  }
  if (got == 0) return IoStatus::WouldBlock;
  // The byte just taken may be the one the driver flagged.
  return CheckLine(handle);
}

IoStatus Win32SerialPlatform::Write(SerialHandle port, const std::uint8_t* data, std::size_t length,
                                    std::size_t* written) {
  *written = 0;
  if (length == 0) return IoStatus::Ok;
  HANDLE handle = ToHandle(port);
  const auto chunk = static_cast<DWORD>(length > 0x10000 ? 0x10000 : length);
  DWORD taken = 0;
  const BOOL ok = m_api.writeFile(handle, data, chunk, &taken, nullptr);
  *written = taken;
  if (ok == 0) {
    const DWORD error = GetLastError();
    if (error != ERROR_OPERATION_ABORTED)
      return DeviceGone(error) ? IoStatus::HangUp : IoStatus::Error;
    DWORD errors = 0;  // fAbortOnError stopped it: clear the error and go on
    m_api.clearCommError(handle, &errors, nullptr);
  }
  return taken > 0 ? IoStatus::Ok : IoStatus::WouldBlock;  // 0: the write time-out ran out
}

bool Win32SerialPlatform::WaitReadable(SerialHandle port, int timeoutMs) {
  // A handle opened without overlapped I/O cannot be waited on: look at the
  // driver's input count every millisecond or so.
  HANDLE handle = ToHandle(port);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (m_api.clearCommError(handle, &errors, &status) == 0) return true;
    if ((errors & kSpoiltByteErrors) != 0) {
      m_api.purgeComm(handle, PURGE_RXCLEAR);
      return true;
    }
    if (status.cbInQue > 0) return true;
    if (SteadyClock::now() >= deadline) return false;
    Sleep(1);
  }
}

void Win32SerialPlatform::Drain(SerialHandle port) {
  // FlushFileBuffers would wait forever on output held by flow control: watch
  // the queue instead and give up once it stops moving.
  HANDLE handle = ToHandle(port);
  constexpr auto kStall = std::chrono::milliseconds(1000);
  DWORD lastQueued = MAXDWORD;
  auto lastChange = SteadyClock::now();
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (m_api.clearCommError(handle, &errors, &status) == 0 || status.cbOutQue == 0) return;
    const auto now = SteadyClock::now();
    if (status.cbOutQue != lastQueued) {
      lastQueued = status.cbOutQue;
      lastChange = now;
    } else if (now - lastChange > kStall) {
      return;
    }
    Sleep(2);
  }
}

bool Win32SerialPlatform::OutputQueued(SerialHandle port, std::size_t* bytes) {
  DWORD errors = 0;
  COMSTAT status{};
  if (m_api.clearCommError(ToHandle(port), &errors, &status) == 0) return false;
  *bytes = status.cbOutQue;
  return true;
}

void Win32SerialPlatform::DiscardOutput(SerialHandle port) {
  m_api.purgeComm(ToHandle(port), PURGE_TXABORT | PURGE_TXCLEAR);
}

void Win32SerialPlatform::DiscardInput(SerialHandle port) {
  m_api.purgeComm(ToHandle(port), PURGE_RXCLEAR);
}

// Ok when the line has reported no spoilt byte since the last look; otherwise
// everything received so far is thrown away (WouldBlock), or the device is gone.
IoStatus Win32SerialPlatform::CheckLine(HANDLE handle) {
  DWORD errors = 0;
  COMSTAT status{};
  if (m_api.clearCommError(handle, &errors, &status) == 0) {
    return DeviceGone(GetLastError()) ? IoStatus::HangUp : IoStatus::Error;
  }
  if ((errors & kSpoiltByteErrors) == 0) return IoStatus::Ok;
  m_api.purgeComm(handle, PURGE_RXCLEAR);
  return IoStatus::WouldBlock;
}

}  // namespace win32

namespace {
win32::Win32SerialPlatform g_win32Platform;
std::atomic<SerialPlatform*> g_platform{&g_win32Platform};
}  // namespace

SerialPlatform& GetSerialPlatform() {
  return *g_platform.load();
}

void SetSerialPlatform(SerialPlatform* platform) {
  g_platform = platform != nullptr ? platform : &g_win32Platform;
}

}  // namespace portflash
