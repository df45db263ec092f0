#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>

#include "engine/serial_platform.h"
#include "platform/win32/comm_settings.h"

namespace portflash {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Output held by DSR flow ends a write after this long, so that a cancel is seen.
constexpr DWORD kWriteTimeoutMs = 300;

HANDLE ToHandle(SerialHandle port) {
  return reinterpret_cast<HANDLE>(port);
}

void Fail(OpenFailure* why, OpenError kind, DWORD error) {
  if (why == nullptr) return;
  why->kind = kind;
  why->error = 0;  // not an errno: the text says it all
  why->detail = win32::SystemErrorText(error);
}

// The driver's error flags and queue counts; false when the device is gone.
bool CommStatus(HANDLE handle, DWORD* errors, COMSTAT* status) {
  return ClearCommError(handle, errors, status) != 0;
}

bool DeviceGone(DWORD error) {
  return error == ERROR_INVALID_HANDLE || error == ERROR_BAD_COMMAND ||
         error == ERROR_DEVICE_REMOVED || error == ERROR_GEN_FAILURE ||
         error == ERROR_ACCESS_DENIED || error == ERROR_DEVICE_NOT_CONNECTED;
}

class Win32SerialPlatform final : public SerialPlatform {
 public:
  SerialHandle Open(const std::string& devicePath, OpenFailure* why) override {
    const std::string name = win32::DeviceName(devicePath);
    // Share mode 0: a port is one program's at a time. Not inheritable: a child
    // process would keep the port busy after we close it.
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      Fail(why, win32::OpenErrorFor(error), error);
      return kNoSerialHandle;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetFileType(handle) != FILE_TYPE_CHAR || GetCommState(handle, &dcb) == 0) {
      CloseHandle(handle);
      Fail(why, OpenError::NotSerial, ERROR_NOT_SUPPORTED);
      return kNoSerialHandle;
    }
    // Without these time-outs a read would wait for a byte: never use such a port.
    COMMTIMEOUTS timeouts = win32::LinkTimeouts(kWriteTimeoutMs);
    if (SetCommTimeouts(handle, &timeouts) == 0) {
      const DWORD error = GetLastError();
      CloseHandle(handle);
      Fail(why, OpenError::Other, error);
      return kNoSerialHandle;
    }
    if (why != nullptr) *why = OpenFailure{};
    return reinterpret_cast<SerialHandle>(handle);
  }

  void Close(SerialHandle port) override {
    if (port == kNoSerialHandle) return;
    CloseHandle(ToHandle(port));
  }

  bool GetSettings(SerialHandle port, SavedLineSettings* out) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(ToHandle(port), &dcb) == 0) return false;
    static_assert(sizeof dcb <= sizeof out->bytes);
    std::memcpy(out->bytes.data(), &dcb, sizeof dcb);
    out->size = sizeof dcb;
    return true;
  }

  bool SetSettings(SerialHandle port, const SavedLineSettings& settings) override {
    DCB dcb{};
    if (settings.size != sizeof dcb) return false;
    std::memcpy(&dcb, settings.bytes.data(), sizeof dcb);
    return SetCommState(ToHandle(port), &dcb) != 0;
  }

  bool Configure(SerialHandle port, const SavedLineSettings& base,
                 const LineConfig& config) override {
    HANDLE handle = ToHandle(port);
    DCB before{};
    before.DCBlength = sizeof before;
    if (GetCommState(handle, &before) == 0) return false;
    DCB start = before;
    if (base.size == sizeof start) std::memcpy(&start, base.bytes.data(), sizeof start);
    DCB wanted = win32::FillDcb(start, config);
    if (SetCommState(handle, &wanted) != 0) return true;
    // A driver may have applied part (the rate) before refusing the rest.
    SetCommState(handle, &before);
    return false;
  }

  // DSR output flow, the DTR handshake and RTS toggle are the driver's own here
  // (set through the DCB): the link must not drive the lines itself.
  bool GetModemLines(SerialHandle, unsigned*) override { return false; }
  bool SetModemLines(SerialHandle, unsigned, unsigned) override { return false; }

  IoStatus ReadByte(SerialHandle port, std::uint8_t* byte) override {
    HANDLE handle = ToHandle(port);
    // A spoilt byte may wait in the queue behind the flag: drop what is queued.
    if (IoStatus status = CheckLine(handle); status != IoStatus::Ok) return status;
    DWORD got = 0;
    if (ReadFile(handle, byte, 1, &got, nullptr) == 0) {
      const DWORD error = GetLastError();
      if (error == ERROR_OPERATION_ABORTED) {  // fAbortOnError: cleared by the next check
        CheckLine(handle);
        return IoStatus::WouldBlock;
      }
      return DeviceGone(error) ? IoStatus::HangUp : IoStatus::Error;
    }
    if (got == 0) return IoStatus::WouldBlock;
    // The byte just taken may be the one the driver flagged.
    if (IoStatus status = CheckLine(handle); status != IoStatus::Ok) return status;
    return IoStatus::Ok;
  }

  IoStatus Write(SerialHandle port, const std::uint8_t* data, std::size_t length,
                 std::size_t* written) override {
    *written = 0;
    if (length == 0) return IoStatus::Ok;
    HANDLE handle = ToHandle(port);
    const auto chunk = static_cast<DWORD>(length > 0x10000 ? 0x10000 : length);
    DWORD taken = 0;
    const BOOL ok = WriteFile(handle, data, chunk, &taken, nullptr);
    *written = taken;
    if (ok == 0) {
      const DWORD error = GetLastError();
      if (error == ERROR_OPERATION_ABORTED) {
        DWORD errors = 0;
        CommStatus(handle, &errors, nullptr);
        return taken > 0 ? IoStatus::Ok : IoStatus::WouldBlock;
      }
      return DeviceGone(error) ? IoStatus::HangUp : IoStatus::Error;
    }
    return taken > 0 ? IoStatus::Ok : IoStatus::WouldBlock;  // 0: the write time-out ran out
  }

  bool WaitReadable(SerialHandle port, int timeoutMs) override {
    // A handle opened without overlapped I/O cannot be waited on: look at the
    // driver's input count every millisecond or so.
    HANDLE handle = ToHandle(port);
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      DWORD errors = 0;
      COMSTAT status{};
      if (!CommStatus(handle, &errors, &status) || status.cbInQue > 0 ||
          (errors & win32::kSpoiltByteErrors) != 0) {
        if ((errors & win32::kSpoiltByteErrors) != 0) PurgeComm(handle, PURGE_RXCLEAR);
        return true;
      }
      if (SteadyClock::now() >= deadline) return false;
      Sleep(1);
    }
  }

  // The write itself waits (up to its time-out) for the driver to take bytes.
  bool WaitWritable(SerialHandle, int) override { return true; }

  void Drain(SerialHandle port) override {
    // FlushFileBuffers would wait forever on output held by flow control: watch
    // the queue instead and give up once it stops moving.
    HANDLE handle = ToHandle(port);
    constexpr auto kStall = std::chrono::milliseconds(1000);
    DWORD lastQueued = MAXDWORD;
    auto lastChange = SteadyClock::now();
    for (;;) {
      DWORD errors = 0;
      COMSTAT status{};
      if (!CommStatus(handle, &errors, &status) || status.cbOutQue == 0) return;
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

  bool OutputQueued(SerialHandle port, std::size_t* bytes) override {
    DWORD errors = 0;
    COMSTAT status{};
    if (!CommStatus(ToHandle(port), &errors, &status)) return false;
    *bytes = status.cbOutQue;
    return true;
  }

  void DiscardOutput(SerialHandle port) override {
    PurgeComm(ToHandle(port), PURGE_TXABORT | PURGE_TXCLEAR);
  }

  void DiscardInput(SerialHandle port) override { PurgeComm(ToHandle(port), PURGE_RXCLEAR); }

 private:
  // Ok when the line has reported no spoilt byte since the last look; otherwise
  // everything received so far is thrown away (WouldBlock), or the device is gone.
  static IoStatus CheckLine(HANDLE handle) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!CommStatus(handle, &errors, &status)) {
      return DeviceGone(GetLastError()) ? IoStatus::HangUp : IoStatus::Error;
    }
    if ((errors & win32::kSpoiltByteErrors) == 0) return IoStatus::Ok;
    PurgeComm(handle, PURGE_RXCLEAR);
    return IoStatus::WouldBlock;
  }
};

Win32SerialPlatform g_win32Platform;
std::atomic<SerialPlatform*> g_platform{&g_win32Platform};

}  // namespace

SerialPlatform& GetSerialPlatform() {
  return *g_platform.load();
}

void SetSerialPlatform(SerialPlatform* platform) {
  g_platform = platform != nullptr ? platform : &g_win32Platform;
}

}  // namespace portflash
