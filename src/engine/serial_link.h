#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/result_code.h"
#include "engine/serial_platform.h"

namespace portflash {

// One open port: the system's handle and the settings it had before we touched it.
struct CommPort {
  SerialHandle os = kNoSerialHandle;
  std::string devicePath;
  SavedLineSettings saved;
  bool hasModemLines = false;
  unsigned savedModemLines = 0;  // DTR/RTS as they were at the open
  LineConfig config;             // the last configuration applied
  bool lineLost = false;         // hung up (an adapter pulled): never used again
  bool rtsRaised = false;        // RTS on for a toggle, until the output has left
};
using CommHandle = CommPort*;

// Supported rates, ending in 0.
extern const std::uint32_t g_anBaudRates[7];

// The port of the calling thread's last OpenCommPort: each thread (the COM page's
// test open on the GUI thread, a download on its own thread) has its own.
extern thread_local CommHandle g_hCommPort;

// "COMn" -> the current application profile's "Ports"/"COMn" entry, else the
// system's device for COMn; a name starting with "/" is a device path and stays.
std::string ResolvePortDevice(const std::string& portName);

// Set by the download thread: block writes and flow-control waits give up when it is set.
void SetCommAbortFlag(const std::atomic<int>* flag);

CommHandle OpenCommPort(const char* portName, OpenFailure* why = nullptr);
void CloseCommPort(CommHandle handle);
ResultCode ConfigureCommPort(CommHandle handle, std::uint32_t rate, std::uint16_t parityFlag);
std::uint16_t IsValidBaudRate(std::uint32_t rate);
// A byte, RESULT_NO_DATA, or RESULT_WRITE_FAILED at once when the line has hung up.
ResultCode ReadCommByte();
bool WriteCommByte(std::uint8_t byte);
ResultCode WriteCommBlock(const std::uint8_t* buffer, std::size_t length);
std::uint16_t GetReadDelay();
// True once the device has hung up.
bool CommLineLost(CommHandle handle);
// Throw away what the driver holds in one direction.
void DiscardCommInput(CommHandle handle);
void DiscardCommOutput(CommHandle handle);

// Text for an open failure, one line, for under message 121.
std::string DescribeOpenFailure(const OpenFailure& why, const std::string& devicePath);
// Message 121 with that line under it.
std::string OpenFailureMessage(const char* portName, const OpenFailure& why);

}  // namespace portflash
