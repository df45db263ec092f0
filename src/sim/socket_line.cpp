#include "sim/socket_line.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace portflash::sim {

namespace {

constexpr std::uint8_t kIac = 0xFF;
constexpr std::uint8_t kBreak = 0xF3;
constexpr std::uint8_t kWill = 0xFB;
constexpr std::uint8_t kDont = 0xFE;  // WILL, WONT, DO and DONT are 0xFB to 0xFE
// QEMU hands a break that follows data too closely to the guest before the data.
constexpr auto kBreakGap = std::chrono::milliseconds(50);

std::string SystemError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

}  // namespace

bool SocketLine::Open(const std::string& path, int waitMs, std::string* error) {
  path_ = path;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    *error = "socket path too long: " + path;
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
      *error = SystemError("socket");
      return false;
    }
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) break;
    const bool later = errno == ENOENT || errno == ECONNREFUSED;
    *error = SystemError("cannot connect to " + path);
    close(fd_);
    fd_ = -1;
    if (!later || std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  return true;
}

long SocketLine::Read(std::uint8_t* buffer, std::size_t max) {
  if (fd_ < 0) return -1;
  // While the opening lasts, bytes held from the last read may come out with these.
  const std::size_t room = opening_ ? max - std::min(max, partial_.size()) : max;
  if (room == 0) return 0;
  const ssize_t got = read(fd_, buffer, room);
  if (got == 0) {
    log_.Line("QEMU closed the connection");
    return -1;
  }
  if (got < 0) {
    if (errno == EAGAIN || errno == EINTR) return 0;
    log_.Line(SystemError("read"));
    return -1;
  }
  if (!opening_) return got;
  // Drop the negotiation; the first byte that starts none ends it.
  const std::vector<std::uint8_t> in(buffer, buffer + got);
  std::size_t kept = 0;
  for (const std::uint8_t byte : in) {
    if (!opening_) {
      buffer[kept++] = byte;
      continue;
    }
    partial_.push_back(byte);
    const bool fits = (partial_.size() == 1 && byte == kIac) ||
                      (partial_.size() == 2 && byte >= kWill && byte <= kDont) ||
                      partial_.size() == 3;
    if (!fits) {
      opening_ = false;
      for (const std::uint8_t held : partial_) buffer[kept++] = held;
    }
    if (partial_.size() == 3 || !opening_) partial_.clear();
  }
  return static_cast<long>(kept);
}

std::size_t SocketLine::Pending() const {
  int pending = 0;
  return fd_ >= 0 && ioctl(fd_, FIONREAD, &pending) == 0 && pending > 0
             ? static_cast<std::size_t>(pending)
             : 0;
}

bool SocketLine::WriteAll(const std::uint8_t* bytes, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t wrote = write(fd_, bytes + done, count - done);
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
      log_.Line(SystemError("write"));
      return false;
    }
    pollfd writable{fd_, POLLOUT, 0};
    if (poll(&writable, 1, 1000) <= 0) {
      log_.Line("QEMU takes nothing: " + std::to_string(count - done) + " bytes dropped");
      return false;
    }
  }
  lastWrite_ = std::chrono::steady_clock::now();
  return true;
}

void SocketLine::Send(const std::vector<std::uint8_t>& bytes) {
  if (fd_ < 0) return;
  std::vector<std::uint8_t> framed;
  framed.reserve(bytes.size());
  for (const std::uint8_t byte : bytes) {
    framed.push_back(byte);
    if (byte == kIac) framed.push_back(kIac);  // a lone 0xFF would start a command
  }
  WriteAll(framed.data(), framed.size());
}

bool SocketLine::SendBreak() {
  if (fd_ < 0) return false;
  std::this_thread::sleep_until(lastWrite_ + kBreakGap);
  const std::uint8_t command[] = {kIac, kBreak};
  return WriteAll(command, sizeof command);
}

void SocketLine::Linger(int maxMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
  int unsent = 0;
  while (fd_ >= 0 && ioctl(fd_, SIOCOUTQ, &unsent) == 0 && unsent > 0 &&
         std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void SocketLine::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace portflash::sim
