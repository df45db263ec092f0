#include "cli/console.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace portflash::cli::console {

bool ProgressRedraws() {
  return isatty(STDERR_FILENO) != 0;
}

int Width() {
  winsize size = {};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

Input ReadLine(std::string* line, int interruptFd) {
  line->clear();
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {interruptFd, POLLIN, 0}};
    int count = interruptFd >= 0 ? 2 : 1;
    int ready = poll(fds, static_cast<nfds_t>(count), -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return Input::End;
    }
    if (count == 2 && (fds[1].revents & POLLIN)) return Input::Interrupted;
    if (fds[0].revents & POLLNVAL) return Input::End;  // no stdin at all: nobody to wait for
    if (fds[0].revents == 0) continue;
    char buffer[256];
    ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return line->empty() ? Input::End : Input::Line;  // end of input
    std::string chunk(buffer, static_cast<std::size_t>(got));
    if (std::size_t end = chunk.find('\n'); end != std::string::npos) {
      *line += chunk.substr(0, end);
      return Input::Line;
    }
    *line += chunk;
  }
}

}  // namespace portflash::cli::console
