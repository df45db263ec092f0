#pragma once
// The Win32 serial platform, over a table of the system calls it makes so that
// the unit tests can play the driver (a parity error, a write time-out, a refusal).
#include <windows.h>

#include "engine/serial_platform.h"

namespace portflash::win32 {

struct CommApi {
  decltype(&::CreateFileA) createFile = ::CreateFileA;
  decltype(&::CloseHandle) closeHandle = ::CloseHandle;
  decltype(&::GetFileType) getFileType = ::GetFileType;
  decltype(&::GetCommState) getCommState = ::GetCommState;
  decltype(&::SetCommState) setCommState = ::SetCommState;
  decltype(&::SetCommTimeouts) setCommTimeouts = ::SetCommTimeouts;
  decltype(&::ReadFile) readFile = ::ReadFile;
  decltype(&::WriteFile) writeFile = ::WriteFile;
  decltype(&::ClearCommError) clearCommError = ::ClearCommError;
  decltype(&::PurgeComm) purgeComm = ::PurgeComm;
};

// Output held by DSR flow ends a write after this long, so that a cancel is seen.
inline constexpr DWORD kWriteTimeoutMs = 300;

class Win32SerialPlatform final : public SerialPlatform {
 public:
  explicit Win32SerialPlatform(const CommApi& api = CommApi{}) : m_api(api) {}

  SerialHandle Open(const std::string& devicePath, OpenFailure* why) override;
  void Close(SerialHandle port) override;
  bool GetSettings(SerialHandle port, SavedLineSettings* out) override;
  bool SetSettings(SerialHandle port, const SavedLineSettings& settings) override;
  bool Configure(SerialHandle port, const SavedLineSettings& base,
                 const LineConfig& config) override;
  // DSR output flow, the DTR handshake and RTS toggle are the driver's own here
  // (set through the DCB): the link must not drive the lines itself.
  bool GetModemLines(SerialHandle, unsigned*) override { return false; }
  bool SetModemLines(SerialHandle, unsigned, unsigned) override { return false; }
  IoStatus ReadByte(SerialHandle port, std::uint8_t* byte) override;
  IoStatus Write(SerialHandle port, const std::uint8_t* data, std::size_t length,
                 std::size_t* written) override;
  bool WaitReadable(SerialHandle port, int timeoutMs) override;
  // The write itself waits (up to its time-out) for the driver to take bytes.
  bool WaitWritable(SerialHandle, int) override { return true; }
  void Drain(SerialHandle port) override;
  bool OutputQueued(SerialHandle port, std::size_t* bytes) override;
  void DiscardOutput(SerialHandle port) override;
  void DiscardInput(SerialHandle port) override;

 private:
  IoStatus CheckLine(HANDLE handle);

  CommApi m_api;
};

}  // namespace portflash::win32
