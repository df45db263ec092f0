#include "sim/pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "sim/line_rate.h"

namespace portflash::sim {

namespace {

std::string SystemError(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

void SetCloseOnExec(int fd) {
  fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

}  // namespace

bool PtyLine::Open(std::string* error) {
  if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
    *error = SystemError("openpty");
    return false;
  }
  SetCloseOnExec(master_);
  SetCloseOnExec(slave_);
  char name[128];
  if (ptsname_r(master_, name, sizeof name) != 0) {
    *error = SystemError("ptsname");
    return false;
  }
  path_ = name;
  // A new pty echoes and edits lines until someone says otherwise.
  termios settings{};
  if (tcgetattr(master_, &settings) == 0) {
    cfmakeraw(&settings);
    tcsetattr(master_, TCSANOW, &settings);
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

  watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch_ < 0 || inotify_add_watch(watch_, path_.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    log_.Line(SystemError("cannot watch the opens of " + path_));
    if (watch_ >= 0) close(watch_);
    watch_ = -1;
  }
  return true;
}

bool PtyLine::Link(const std::string& linkPath, std::string* error) {
  struct stat info {};
  if (lstat(linkPath.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode)) {
      *error = linkPath + " exists and is not a symbolic link";
      return false;
    }
    unlink(linkPath.c_str());  // a stale link from an earlier run
  }
  if (symlink(path_.c_str(), linkPath.c_str()) != 0) {
    *error = SystemError("cannot link " + linkPath);
    return false;
  }
  link_ = linkPath;
  return true;
}

bool PtyLine::TakeClientEvents() {
  if (watch_ < 0) return false;
  bool poweredOn = false;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = read(watch_, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->mask & IN_OPEN) {
        if (clients_++ == 0) poweredOn = true;
        log_.Line("a client opened the line");
      } else if (event->mask & IN_CLOSE) {
        if (clients_ > 0 && --clients_ == 0) {
          // A client that died holding TIOCEXCL would lock everyone else out.
          ioctl(slave_, TIOCNXCL);
          log_.Line("the client closed the line");
        }
      }
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  return poweredOn;
}

long PtyLine::Read(std::uint8_t* buffer, std::size_t max) {
  const ssize_t got = read(master_, buffer, max);
  if (got >= 0) return got;
  if (errno == EAGAIN || errno == EINTR) return 0;
  log_.Line(SystemError("read"));
  return -1;
}

std::size_t PtyLine::Pending() const {
  int pending = 0;
  return ioctl(master_, FIONREAD, &pending) == 0 && pending > 0 ? static_cast<std::size_t>(pending)
                                                                : 0;
}

unsigned PtyLine::Rate() const {
  unsigned rate = 0;
  return ReadLineRate(master_, &rate) ? rate : 0;
}

void PtyLine::Send(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(master_, bytes.data() + done, bytes.size() - done);
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno != EAGAIN && errno != EINTR) {
      log_.Line(SystemError("write"));
      return;
    }
    // The client's input is full: it is not reading.
    pollfd writable{master_, POLLOUT, 0};
    if (poll(&writable, 1, 1000) <= 0) {
      log_.Line("the client reads nothing: " + std::to_string(bytes.size() - done) +
                " bytes dropped");
      return;
    }
  }
}

void PtyLine::Linger(int maxMs) {
  if (slave_ < 0) return;
  using namespace std::chrono;
  const auto until = steady_clock::now() + milliseconds(maxMs);
  // Give the pty time to pass what was written on to the client's side.
  std::this_thread::sleep_for(milliseconds(50));
  while (steady_clock::now() < until) {
    TakeClientEvents();
    int unread = 0;
    const bool gone = watch_ >= 0 && clients_ == 0;
    if (gone || ioctl(slave_, FIONREAD, &unread) != 0 || unread == 0) return;
    std::this_thread::sleep_for(milliseconds(10));
  }
}

void PtyLine::Close() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
  if (watch_ >= 0) close(watch_);
  slave_ = master_ = watch_ = -1;
  if (!link_.empty()) {
    char target[256];
    const ssize_t length = readlink(link_.c_str(), target, sizeof target - 1);
    if (length >= 0 && path_ == std::string(target, static_cast<std::size_t>(length)))
      unlink(link_.c_str());
    link_.clear();
  }
}

}  // namespace portflash::sim
