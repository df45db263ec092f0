#include "engine/serial_link.h"

#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "app/profile.h"
#include "app/update_app.h"
#include "engine/clock.h"
#include "res/string_table.h"

namespace portflash {

const std::uint32_t g_anBaudRates[7] = {9600, 19200, 56000, 115200, 128000, 256000, 0};

thread_local CommHandle g_hCommPort = nullptr;

namespace {

constexpr int kPauseMs = 100;
constexpr int kReadBudgetMs = 250;
constexpr int kDsrPollMs = 10;
constexpr std::uint16_t kReadDelayMs = 250;

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

// DSR output flow: hold while the unit keeps DSR off. Only a cancel ends the hold,
// as a driver's held output would only be ended by closing the port.
bool WaitForDsr(const CommPort& port) {
  SerialPlatform& platform = GetSerialPlatform();
  for (;;) {
    unsigned lines = 0;
    if (!platform.GetModemLines(port.fd, &lines)) return false;
    if ((lines & kModemDsr) != 0) return true;
    if (Aborted()) return false;
    GetClock().Pause(kDsrPollMs);
  }
}

// Writes until the device has taken every byte; false on a dead line, or when a
// cancelled download finds the device not taking bytes.
bool WriteAll(const CommPort& port, const std::uint8_t* data, std::size_t length) {
  SerialPlatform& platform = GetSerialPlatform();
  const bool dsrFlow = port.hasModemLines && port.config.outxDsrFlow;
  std::size_t done = 0;
  while (done < length) {
    if (dsrFlow && !WaitForDsr(port)) return false;
    std::size_t taken = 0;
    IoStatus status = platform.Write(port.fd, data + done, length - done, &taken);
    done += taken;
    if (status == IoStatus::HangUp || status == IoStatus::Error) return false;
    if (done < length && taken == 0) {
      if (Aborted()) return false;
      platform.WaitWritable(port.fd, kPauseMs);
    }
  }
  return true;
}

bool WriteToLine(const std::uint8_t* data, std::size_t length) {
  CommHandle port = g_hCommPort;
  if (port == nullptr) return false;
  SerialPlatform& platform = GetSerialPlatform();
  // RTS on while there is something to send, as a driver's RTS toggle does.
  const bool rtsToggle = port->hasModemLines && port->config.rtsControl == RtsControl::Toggle;
  if (rtsToggle) platform.SetModemLines(port->fd, kModemRts, 0);
  bool ok = WriteAll(*port, data, length);
  if (rtsToggle) {
    if (ok) platform.Drain(port->fd);
    platform.SetModemLines(port->fd, 0, kModemRts);
  }
  return ok;
}

// The 100 ms pause between read attempts. It ends early when the line becomes
// readable, so a byte that arrives meanwhile is taken by the next attempt at once.
// A dead line reports readable at once; it still costs the full pause so that the
// callers' waits, counted in reads, keep their length.
void PauseBetweenReads(const CommPort* port, IoStatus lastRead) {
  SerialPlatform& platform = GetSerialPlatform();
  if (port != nullptr && lastRead == IoStatus::WouldBlock) {
    platform.WaitReadable(port->fd, kPauseMs);
    return;
  }
  Clock& clock = GetClock();
  std::int64_t start = clock.Milliseconds();
  if (port != nullptr) platform.WaitReadable(port->fd, kPauseMs);
  std::int64_t left = kPauseMs - (clock.Milliseconds() - start);
  if (left > 0) clock.Pause(static_cast<int>(left));
}

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// True when the descriptor's open file holds a lock (a "lock:" line in its fdinfo).
bool HoldsLock(const std::string& pid, const char* fd) {
  std::ifstream info("/proc/" + pid + "/fdinfo/" + fd);
  std::string line;
  while (std::getline(info, line)) {
    if (line.starts_with("lock:")) return true;
  }
  return false;
}

// A process other than us with the device open: "comm, process pid", or "".
// The one whose descriptor holds the lock wins over others that merely have the
// device open too (a simulator's own end, say).
std::string FindHolder(const std::string& devicePath) {
  const std::string self = std::to_string(::getpid());
  char resolved[PATH_MAX];
  std::string target = ::realpath(devicePath.c_str(), resolved) != nullptr ? resolved : devicePath;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return "";
  std::string anyHolder;
  std::string lockHolder;
  while (lockHolder.empty()) {
    dirent* entry = ::readdir(proc);
    if (entry == nullptr) break;
    std::string pid = entry->d_name;
    if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0])) || pid == self) continue;
    std::string fdDir = "/proc/" + pid + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (fds == nullptr) continue;
    while (dirent* fdEntry = ::readdir(fds)) {
      if (fdEntry->d_name[0] == '.') continue;
      std::string link = fdDir + "/" + fdEntry->d_name;
      char buffer[PATH_MAX];
      ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer - 1);
      if (n <= 0 || target != std::string(buffer, static_cast<std::size_t>(n))) continue;
      if (anyHolder.empty()) anyHolder = pid;
      if (HoldsLock(pid, fdEntry->d_name)) {
        lockHolder = pid;
        break;
      }
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  const std::string& pid = lockHolder.empty() ? anyHolder : lockHolder;
  if (pid.empty()) return "";
  return ReadSmallFile("/proc/" + pid + "/comm") + ", process " + pid;
}

std::string GroupOf(const std::string& devicePath) {
  struct stat info {};
  if (::stat(devicePath.c_str(), &info) != 0 || info.st_gid == 0) return "";
  std::vector<char> buffer(16384);
  group entry{};
  group* result = nullptr;
  if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &result) != 0 ||
      result == nullptr) {
    return "";
  }
  return result->gr_name;
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
  return "/dev/ttyS" + std::to_string(number - 1);
}

CommHandle OpenCommPort(const char* portName, OpenFailure* why) {
  SerialPlatform& platform = GetSerialPlatform();
  std::string device = ResolvePortDevice(portName != nullptr ? portName : "");
  OpenFailure failure;
  int fd = platform.Open(device, &failure);
  if (fd < 0) {
    g_hCommPort = nullptr;
    if (why != nullptr) *why = failure;
    return nullptr;
  }
  auto* port = new CommPort;
  port->fd = fd;
  port->devicePath = device;
  platform.GetSettings(fd, &port->saved);  // a device we cannot read is still used
  unsigned lines = 0;
  port->hasModemLines = platform.GetModemLines(fd, &lines);
  port->savedModemLines = lines & (kModemDtr | kModemRts);
  g_hCommPort = port;
  if (why != nullptr) *why = OpenFailure{};
  return port;
}

void CloseCommPort(CommHandle handle) {
  if (handle == nullptr) return;
  SerialPlatform& platform = GetSerialPlatform();
  if (handle->saved.size != 0) platform.SetSettings(handle->fd, handle->saved);
  if (handle->hasModemLines) {
    unsigned driven = kModemDtr | kModemRts;
    platform.SetModemLines(handle->fd, handle->savedModemLines, driven & ~handle->savedModemLines);
  }
  platform.Close(handle->fd);
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
  if (!platform.Configure(handle->fd, handle->saved, config)) return RESULT_CONFIG_FAILED;
  handle->config = config;
  if (handle->hasModemLines) {
    // DTR handshake with input always taken at once keeps DTR on; RTS rises only
    // while sending.
    if (allSignals != 0) {
      platform.SetModemLines(handle->fd, kModemDtr, kModemRts);
    } else {
      platform.SetModemLines(handle->fd, 0, kModemDtr | kModemRts);
    }
  }
  return RESULT_SUCCESS;
}

ResultCode ReadCommByte() {
  CommHandle port = g_hCommPort;
  SerialPlatform& platform = GetSerialPlatform();
  int budget = kReadBudgetMs;
  do {
    std::uint8_t byte = 0;
    IoStatus status = port != nullptr ? platform.ReadByte(port->fd, &byte) : IoStatus::Error;
    if (status == IoStatus::Ok) return byte;
    PauseBetweenReads(port, status);
    budget -= kPauseMs;
  } while (budget > 0);
  return RESULT_NO_DATA;
}

bool WriteCommByte(std::uint8_t byte) {
  return WriteToLine(&byte, 1);
}

ResultCode WriteCommBlock(const std::uint8_t* buffer, std::size_t length) {
  if (!WriteToLine(buffer, length)) return RESULT_WRITE_FAILED;
  CommHandle port = g_hCommPort;
  std::uint8_t byte = 0;
  if (GetSerialPlatform().ReadByte(port->fd, &byte) == IoStatus::Ok) return byte;
  return RESULT_NO_DATA;
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
      std::string holder = FindHolder(devicePath);
      return devicePath + " is in use by another program" +
             (holder.empty() ? "" : " (" + holder + ")") + ".";
    }
    case OpenError::PermissionDenied: {
      std::string groupName = GroupOf(devicePath);
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
