#include "engine/serial_link.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "app/profile.h"
#include "app/update_app.h"
#include "engine/clock.h"
#include "platform/system.h"
#include "res/string_table.h"

namespace portflash {

const std::uint32_t g_anBaudRates[7] = {9600, 19200, 56000, 115200, 128000, 256000, 0};

thread_local CommHandle g_hCommPort = nullptr;

namespace {

constexpr int kPauseMs = 100;
constexpr int kReadBudgetMs = 250;
constexpr int kDsrPollMs = 10;
constexpr std::uint16_t kReadDelayMs = 250;
constexpr std::int64_t kDsrNoteAfterMs = 2000;
constexpr const char* kDsrNote =
    "Waiting for the unit's DSR signal; if the cable has only TX and RX, choose 'TX and RX Only'";

thread_local const std::atomic<int>* t_abortFlag = nullptr;

bool Aborted() {
  return t_abortFlag != nullptr && t_abortFlag->load() != 0;
}

int CableAllSignals() {
  CUpdateApp* app = CUpdateApp::Current();
  return app != nullptr ? app->GetAllSignals() : 1;
}

// "COMn" with n a decimal number of at least 1: n, else 0.
unsigned ComPortNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 12) return 0;
  for (std::size_t i = 0; i < 3; ++i) {
    if (std::tolower(static_cast<unsigned char>(name[i])) != "com"[i]) return 0;
  }
  unsigned long number = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    number = number * 10 + static_cast<unsigned long>(name[i] - '0');
    if (number > 1'000'000) return 0;
  }
  return static_cast<unsigned>(number);
}

void ShowLineNote(const std::string& text) {
  if (CUpdateApp* app = CUpdateApp::Current()) app->ShowLineNote(text);
}

// DSR output flow: hold while the unit keeps DSR off. Only a cancel ends the hold,
// as a driver's held output would only be ended by closing the port. A hold that
// lasts says why: a cable without DSR holds for ever.
bool WaitForDsr(CommPort& port) {
  SerialPlatform& platform = GetSerialPlatform();
  Clock& clock = GetClock();
  const std::int64_t start = clock.Milliseconds();
  bool noted = false;
  for (;;) {
    unsigned lines = 0;
    if (!platform.GetModemLines(port.os, &lines)) {
      port.lineLost = true;  // the device had modem lines at the open
      return false;
    }
    if ((lines & kModemDsr) != 0) break;
    if (Aborted()) return false;
    if (!noted && clock.Milliseconds() - start >= kDsrNoteAfterMs) {
      ShowLineNote(kDsrNote);
      noted = true;
    }
    clock.Pause(kDsrPollMs);
  }
  if (noted) ShowLineNote("");
  return true;
}

// Keeps the driver's queue to about one block beyond the one about to be written,
// so that a reply stops the stream within a block of the wire and the progress
// shown follows the wire, while the line never runs dry.
bool WaitForRoom(const CommPort& port, std::size_t limit) {
  SerialPlatform& platform = GetSerialPlatform();
  const std::uint64_t rate = port.config.baudRate != 0 ? port.config.baudRate : 9600;
  for (;;) {
    std::size_t queued = 0;
    if (!platform.OutputQueued(port.os, &queued) || queued <= limit) return true;
    if (Aborted()) return false;
    // The excess's time on the wire at 11 bits a byte (start, 8 data, parity, stop).
    const std::uint64_t ms = (queued - limit) * 11 * 1000 / rate;
    GetClock().Pause(static_cast<int>(std::clamp<std::uint64_t>(ms, 1, kPauseMs)));
  }
}

// Writes until the device has taken every byte; false on a dead line, or when a
// cancelled download finds the device not taking bytes.
bool WriteAll(CommPort& port, const std::uint8_t* data, std::size_t length) {
  SerialPlatform& platform = GetSerialPlatform();
  const bool dsrFlow = port.hasModemLines && port.config.outxDsrFlow;
  std::size_t done = 0;
  while (done < length) {
    if (dsrFlow && !WaitForDsr(port)) return false;
    std::size_t taken = 0;
    IoStatus status = platform.Write(port.os, data + done, length - done, &taken);
    done += taken;
    if (status == IoStatus::HangUp) port.lineLost = true;
    if (status == IoStatus::HangUp || status == IoStatus::Error) return false;
    if (done < length && taken == 0) {
      if (Aborted()) return false;
      platform.WaitWritable(port.os, kPauseMs);
    }
  }
  return true;
}

// RTS goes off once what was sent has left, as a driver's RTS toggle does. Done
// when the link starts waiting for the unit rather than after every block, so that
// a stream of blocks keeps the line busy.
void LowerToggledRts(CommPort& port, bool drain) {
  if (!port.rtsRaised) return;
  SerialPlatform& platform = GetSerialPlatform();
  if (drain) platform.Drain(port.os);
  platform.SetModemLines(port.os, 0, kModemRts);
  port.rtsRaised = false;
}

bool WriteToLine(const std::uint8_t* data, std::size_t length) {
  CommHandle port = g_hCommPort;
  if (port == nullptr || port->lineLost) return false;
  // RTS on while there is something to send.
  if (!port->rtsRaised && port->hasModemLines && port->config.rtsControl == RtsControl::Toggle) {
    GetSerialPlatform().SetModemLines(port->os, kModemRts, 0);
    port->rtsRaised = true;
  }
  const bool ok = WriteAll(*port, data, length);
  if (!ok && !port->lineLost) LowerToggledRts(*port, false);
  return ok;
}

// The 100 ms pause between read attempts. It ends early when the line becomes
// readable, so a byte that arrives meanwhile is taken by the next attempt at once.
// A dead line reports readable at once; it still costs the full pause so that the
// callers' waits, counted in reads, keep their length.
void PauseBetweenReads(const CommPort* port, IoStatus lastRead) {
  SerialPlatform& platform = GetSerialPlatform();
  if (port != nullptr && lastRead == IoStatus::WouldBlock) {
    platform.WaitReadable(port->os, kPauseMs);
    return;
  }
  Clock& clock = GetClock();
  std::int64_t start = clock.Milliseconds();
  if (port != nullptr) platform.WaitReadable(port->os, kPauseMs);
  std::int64_t left = kPauseMs - (clock.Milliseconds() - start);
  if (left > 0) clock.Pause(static_cast<int>(left));
}

}  // namespace

std::uint16_t IsValidBaudRate(std::uint32_t rate) {
  for (const std::uint32_t* entry = g_anBaudRates; *entry != 0; ++entry) {
    if (*entry == rate) return 1;
  }
  return 0;
}

std::uint16_t GetReadDelay() {
  return kReadDelayMs;
}

void SetCommAbortFlag(const std::atomic<int>* flag) {
  t_abortFlag = flag;
}

std::string ResolvePortDevice(const std::string& portName) {
  if (!portName.empty() && portName[0] == '/') return portName;
  unsigned number = ComPortNumber(portName);
  if (number == 0) return portName;
  std::string entry = "COM" + std::to_string(number);
  if (CUpdateApp* app = CUpdateApp::Current()) {
    std::string mapped = app->GetProfile().GetString("Ports", entry);
    if (!mapped.empty()) return mapped;
  }
  return system::DefaultComDevice(number);
}

CommHandle OpenCommPort(const char* portName, OpenFailure* why) {
  SerialPlatform& platform = GetSerialPlatform();
  std::string device = ResolvePortDevice(portName != nullptr ? portName : "");
  OpenFailure failure;
  SerialHandle os = platform.Open(device, &failure);
  if (os == kNoSerialHandle) {
    g_hCommPort = nullptr;
    if (why != nullptr) *why = failure;
    return nullptr;
  }
  auto* port = new CommPort;
  port->os = os;
  port->devicePath = device;
  platform.GetSettings(os, &port->saved);  // a device we cannot read is still used
  unsigned lines = 0;
  port->hasModemLines = platform.GetModemLines(os, &lines);
  port->savedModemLines = lines & (kModemDtr | kModemRts);
  g_hCommPort = port;
  if (why != nullptr) *why = OpenFailure{};
  return port;
}

void CloseCommPort(CommHandle handle) {
  if (handle == nullptr) return;
  SerialPlatform& platform = GetSerialPlatform();
  // What is still queued must leave at the settings it was written with (the caller
  // has discarded it if it is not to go out at all).
  if (!handle->lineLost) {
    platform.Drain(handle->os);
    // Output the drain gave up on (held by the device) would hold the close for the
    // driver's closing wait, and go out at the old settings.
    std::size_t left = 0;
    if (platform.OutputQueued(handle->os, &left) && left != 0) platform.DiscardOutput(handle->os);
  }
  if (handle->saved.size != 0) platform.SetSettings(handle->os, handle->saved);
  if (handle->hasModemLines) {
    unsigned driven = kModemDtr | kModemRts;
    platform.SetModemLines(handle->os, handle->savedModemLines, driven & ~handle->savedModemLines);
  }
  platform.Close(handle->os);
  // The calling thread's reads and writes must not reach a freed port.
  if (g_hCommPort == handle) g_hCommPort = nullptr;
  delete handle;
}

ResultCode ConfigureCommPort(CommHandle handle, std::uint32_t rate, std::uint16_t parityFlag) {
  const int allSignals = CableAllSignals();
  if (IsValidBaudRate(rate) == 0) return RESULT_BAD_BAUD;
  if (handle == nullptr) return RESULT_CONFIG_FAILED;

  LineConfig config;
  config.baudRate = rate;
  config.byteSize = 8;
  config.stopBits = 0;
  config.parity = parityFlag != 0 ? Parity::Even : Parity::None;
  config.parityCheck = parityFlag != 0;
  config.binary = true;
  config.outX = false;
  config.inX = false;
  config.nullStrip = false;
  config.outxDsrFlow = allSignals != 0;
  config.dtrControl = allSignals != 0 ? DtrControl::Handshake : DtrControl::Disable;
  config.rtsControl = allSignals != 0 ? RtsControl::Toggle : RtsControl::Disable;
  config.outxCtsFlow = false;

  SerialPlatform& platform = GetSerialPlatform();
  if (!platform.Configure(handle->os, handle->saved, config)) return RESULT_CONFIG_FAILED;
  handle->config = config;
  if (handle->hasModemLines) {
    // DTR handshake with input always taken at once keeps DTR on; RTS rises only
    // while sending.
    if (allSignals != 0) {
      platform.SetModemLines(handle->os, kModemDtr, kModemRts);
    } else {
      platform.SetModemLines(handle->os, 0, kModemDtr | kModemRts);
    }
  }
  return RESULT_SUCCESS;
}

ResultCode ReadCommByte() {
  CommHandle port = g_hCommPort;
  SerialPlatform& platform = GetSerialPlatform();
  if (port != nullptr && port->lineLost) return RESULT_WRITE_FAILED;
  if (port != nullptr) LowerToggledRts(*port, true);
  int budget = kReadBudgetMs;
  do {
    std::uint8_t byte = 0;
    IoStatus status = port != nullptr ? platform.ReadByte(port->os, &byte) : IoStatus::Error;
    if (status == IoStatus::Ok) return byte;
    if (status == IoStatus::HangUp) {
      // A hang-up is final: nothing will ever be read again.
      port->lineLost = true;
      return RESULT_WRITE_FAILED;
    }
    PauseBetweenReads(port, status);
    budget -= kPauseMs;
  } while (budget > 0);
  return RESULT_NO_DATA;
}

bool WriteCommByte(std::uint8_t byte) {
  return WriteToLine(&byte, 1);
}

ResultCode WriteCommBlock(const std::uint8_t* buffer, std::size_t length) {
  CommHandle port = g_hCommPort;
  if (port != nullptr && !WaitForRoom(*port, length)) return RESULT_WRITE_FAILED;
  if (!WriteToLine(buffer, length)) return RESULT_WRITE_FAILED;
  std::uint8_t byte = 0;
  const IoStatus status = GetSerialPlatform().ReadByte(port->os, &byte);
  if (status == IoStatus::Ok) return byte;
  // The block was taken; a line found dead here fails the next write or read at once.
  if (status == IoStatus::HangUp) port->lineLost = true;
  return RESULT_NO_DATA;
}

bool CommLineLost(CommHandle handle) {
  return handle != nullptr && handle->lineLost;
}

void DiscardCommInput(CommHandle handle) {
  if (handle != nullptr && !handle->lineLost) GetSerialPlatform().DiscardInput(handle->os);
}

void DiscardCommOutput(CommHandle handle) {
  if (handle != nullptr && !handle->lineLost) GetSerialPlatform().DiscardOutput(handle->os);
}

std::string OpenFailureMessage(const char* portName, const OpenFailure& why) {
  std::string text = LoadStringResource(IDS_OPEN_FAILED);
  const std::string detail = DescribeOpenFailure(why, ResolvePortDevice(portName));
  if (!detail.empty()) text += "\n" + detail;
  return text;
}

std::string DescribeOpenFailure(const OpenFailure& why, const std::string& devicePath) {
  switch (why.kind) {
    case OpenError::None:
      return "";
    case OpenError::NotFound:
      return "The device " + devicePath + " does not exist.";
    case OpenError::Busy: {
      // The holder search skips this process, where a download that a cancel gave up
      // waiting for may still be closing the port.
      CUpdateApp* app = CUpdateApp::Current();
      if (app != nullptr && app->IsAbandonedDownloadAlive()) {
        return devicePath +
               " is still held by the previous download, which is still ending; "
               "try again in a moment.";
      }
      std::string holder = system::FindPortHolder(devicePath);
      return devicePath + " is in use by another program" +
             (holder.empty() ? "" : " (" + holder + ")") + ".";
    }
    case OpenError::PermissionDenied: {
      std::string groupName = system::DeviceGroup(devicePath);
      if (groupName.empty()) return "Permission denied for " + devicePath + ".";
      return "Permission denied for " + devicePath + ": it belongs to group " + groupName +
             "; add yourself with: sudo usermod -aG " + groupName + " $USER, then log in again";
    }
    case OpenError::NotSerial:
      return devicePath + " is not a serial device.";
    case OpenError::Other:
      break;
  }
  if (why.error != 0) return devicePath + ": " + std::strerror(why.error);
  return devicePath + ": " + (why.detail.empty() ? "cannot be opened" : why.detail);
}

}  // namespace portflash
