#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "engine/serial_platform.h"
#include "platform/posix/termios2.h"

namespace portflash {
namespace {

using SteadyClock = std::chrono::steady_clock;

void Fail(OpenFailure* why, OpenError kind, int error) {
  if (why == nullptr) return;
  why->kind = kind;
  why->error = error;
  why->detail = std::strerror(error);
}

bool IsCharacterDevice(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool HungUp(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// poll for one event, retrying interruptions with the time that is left.
bool WaitFor(int fd, short events, int timeoutMs) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  int left = timeoutMs;
  for (;;) {
    pollfd entry{fd, events, 0};
    int ready = ::poll(&entry, 1, left);
    if (ready > 0) return (entry.revents & (events | POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (ready == 0) return false;
    if (errno != EINTR) return true;  // a broken descriptor: let the caller's I/O report it
    auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
            .count();
    if (remaining <= 0) return false;
    left = static_cast<int>(remaining);
  }
}

class PosixSerialPlatform final : public SerialPlatform {
 public:
  SerialHandle Open(const std::string& devicePath, OpenFailure* why) override {
    int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      int error = errno;
      if (error == ENOENT || error == ENOTDIR) {
        Fail(why, OpenError::NotFound, error);
      } else if (error == EISDIR || (Exists(devicePath) && !IsCharacterDevice(devicePath))) {
        Fail(why, OpenError::NotSerial, error);
      } else if (error == EACCES || error == EPERM) {
        Fail(why, OpenError::PermissionDenied, error);
      } else if (error == EBUSY) {
        Fail(why, OpenError::Busy, error);
      } else {
        Fail(why, OpenError::Other, error);
      }
      return kNoSerialHandle;
    }
    if (!::isatty(fd)) {
      ::close(fd);
      Fail(why, OpenError::NotSerial, ENOTTY);
      return kNoSerialHandle;
    }
    // The lock first: TIOCEXCL is per device, so setting it and then finding the
    // device taken would leave the other holder's flag to be cleared by us.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int error = errno;
      ::close(fd);
      Fail(why, error == EWOULDBLOCK ? OpenError::Busy : OpenError::Other, error);
      return kNoSerialHandle;
    }
    // Keeps out other programs that do not take the lock (root is not kept out).
    ::ioctl(fd, TIOCEXCL);
    // A fresh port echoes and translates: raw at once, so that nothing the unit prints
    // while the user is still being asked goes back to it. What the device held
    // before is what the close is to put back.
    SavedLineSettings found;
    if (posix_serial::ReadLineSettings(fd, &found)) {
      std::lock_guard lock(m_foundMutex);
      m_found[fd] = found;
    }
    posix_serial::MakeRaw(fd);
    if (why != nullptr) *why = OpenFailure{};
    return fd;
  }

  void Close(SerialHandle handle) override {
    const int fd = static_cast<int>(handle);
    if (fd < 0) return;
    {
      std::lock_guard lock(m_foundMutex);
      m_found.erase(fd);
    }
    // On a pseudo-terminal the exclusive flag outlives our descriptor.
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    ::close(fd);
  }

  bool GetSettings(SerialHandle handle, SavedLineSettings* out) override {
    const int fd = static_cast<int>(handle);
    {
      std::lock_guard lock(m_foundMutex);
      auto found = m_found.find(fd);
      if (found != m_found.end()) {
        *out = found->second;
        return true;
      }
    }
    return posix_serial::ReadLineSettings(fd, out);
  }

  bool SetSettings(SerialHandle handle, const SavedLineSettings& settings) override {
    const int fd = static_cast<int>(handle);
    return posix_serial::WriteLineSettings(fd, settings);
  }

  bool Configure(SerialHandle handle, const SavedLineSettings& base,
                 const LineConfig& config) override {
    const int fd = static_cast<int>(handle);
    return posix_serial::ApplyLineConfig(fd, base, config);
  }

  bool GetModemLines(SerialHandle handle, unsigned* bits) override {
    const int fd = static_cast<int>(handle);
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) != 0) return false;
    unsigned result = 0;
    if ((lines & TIOCM_DTR) != 0) result |= kModemDtr;
    if ((lines & TIOCM_RTS) != 0) result |= kModemRts;
    if ((lines & TIOCM_DSR) != 0) result |= kModemDsr;
    if ((lines & TIOCM_CTS) != 0) result |= kModemCts;
    *bits = result;
    return true;
  }

  bool SetModemLines(SerialHandle handle, unsigned on, unsigned off) override {
    const int fd = static_cast<int>(handle);
    int set = ToTiocm(on);
    int clear = ToTiocm(off & ~on);
    if (set != 0 && ::ioctl(fd, TIOCMBIS, &set) != 0) return false;
    if (clear != 0 && ::ioctl(fd, TIOCMBIC, &clear) != 0) return false;
    return true;
  }

  IoStatus ReadByte(SerialHandle handle, std::uint8_t* byte) override {
    const int fd = static_cast<int>(handle);
    // Look before reading: after each chunk of a transfer the line is nearly always
    // empty, and one poll says so where an empty read needs a second call to tell
    // silence from a hang-up.
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, 0);
    if (ready == 0 || (ready < 0 && errno == EINTR)) return IoStatus::WouldBlock;
    if (ready < 0 || (entry.revents & POLLNVAL) != 0) return IoStatus::Error;
    ssize_t n = ::read(fd, byte, 1);
    if (n == 1) return IoStatus::Ok;
    // With VMIN and VTIME 0 the line discipline answers an empty line with 0, not
    // EAGAIN, so 0 is only a hang-up when the device says so.
    if (n == 0) return HungUp(fd) ? IoStatus::HangUp : IoStatus::WouldBlock;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return IoStatus::WouldBlock;
    if (errno == EIO) return IoStatus::HangUp;
    return IoStatus::Error;
  }

  IoStatus Write(SerialHandle handle, const std::uint8_t* data, std::size_t length,
                 std::size_t* written) override {
    const int fd = static_cast<int>(handle);
    *written = 0;
    if (length == 0) return IoStatus::Ok;
    ssize_t n = ::write(fd, data, length);
    if (n > 0) {
      *written = static_cast<std::size_t>(n);
      return IoStatus::Ok;
    }
    if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      return IoStatus::WouldBlock;
    }
    if (errno == EIO) return IoStatus::HangUp;
    return IoStatus::Error;
  }

  bool WaitReadable(SerialHandle handle, int timeoutMs) override {
    const int fd = static_cast<int>(handle);
    return WaitFor(fd, POLLIN, timeoutMs);
  }
  bool WaitWritable(SerialHandle handle, int timeoutMs) override {
    const int fd = static_cast<int>(handle);
    return WaitFor(fd, POLLOUT, timeoutMs);
  }

  void Drain(SerialHandle handle) override {
    const int fd = static_cast<int>(handle);
    // tcdrain would wait forever on output held by flow control: poll the queue
    // instead and give up once it stops moving.
    constexpr auto kStall = std::chrono::milliseconds(1000);
    constexpr auto kPoll = std::chrono::milliseconds(2);
    int lastQueued = -1;
    auto lastChange = SteadyClock::now();
    for (;;) {
      int queued = 0;
      if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
      auto now = SteadyClock::now();
      if (queued != lastQueued) {
        lastQueued = queued;
        lastChange = now;
      } else if (now - lastChange > kStall) {
        return;
      }
      std::this_thread::sleep_for(kPoll);
    }
    // The queue is empty; the UART may still be shifting out its last bytes.
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(50);
    for (;;) {
      unsigned int status = 0;
      if (::ioctl(fd, TIOCSERGETLSR, &status) != 0 || (status & TIOCSER_TEMT) != 0) return;
      if (SteadyClock::now() > deadline) return;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }

  bool OutputQueued(SerialHandle handle, std::size_t* bytes) override {
    int queued = 0;
    if (::ioctl(static_cast<int>(handle), TIOCOUTQ, &queued) != 0 || queued < 0) return false;
    *bytes = static_cast<std::size_t>(queued);
    return true;
  }

  void DiscardOutput(SerialHandle handle) override {
    ::tcflush(static_cast<int>(handle), TCOFLUSH);
  }

  void DiscardInput(SerialHandle handle) override { ::tcflush(static_cast<int>(handle), TCIFLUSH); }

 private:
  std::mutex m_foundMutex;
  std::map<int, SavedLineSettings> m_found;  // each open descriptor's settings before Open

  static int ToTiocm(unsigned bits) {
    int result = 0;
    if ((bits & kModemDtr) != 0) result |= TIOCM_DTR;
    if ((bits & kModemRts) != 0) result |= TIOCM_RTS;
    return result;
  }
};

PosixSerialPlatform g_posixPlatform;
std::atomic<SerialPlatform*> g_platform{&g_posixPlatform};

}  // namespace

SerialPlatform& GetSerialPlatform() {
  return *g_platform.load();
}

void SetSerialPlatform(SerialPlatform* platform) {
  g_platform = platform != nullptr ? platform : &g_posixPlatform;
}

}  // namespace portflash
