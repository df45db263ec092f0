// termios2 through the kernel's own header, which cannot share a file with <termios.h>.
#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "line_harness.h"

namespace portflash::testing {

PortState ReadPortState(const std::string& device) {
  PortState state;
  const int fd = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return state;
  struct termios2 tio {};
  int exclusive = 0;
  if (::ioctl(fd, TCGETS2, &tio) == 0 && ::ioctl(fd, TIOCGEXCL, &exclusive) == 0) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&tio);
    state.termios.assign(bytes, bytes + sizeof tio);
    state.exclusive = exclusive;
    state.read = true;
  }
  ::close(fd);
  return state;
}

std::string Describe(const PortState& state) {
  if (!state.read) return "(unreadable)";
  struct termios2 tio {};
  std::memcpy(&tio, state.termios.data(), sizeof tio);
  char text[160];
  std::snprintf(text, sizeof text,
                "iflag %#x oflag %#x cflag %#x lflag %#x ispeed %u ospeed %u exclusive %d",
                tio.c_iflag, tio.c_oflag, tio.c_cflag, tio.c_lflag, tio.c_ispeed, tio.c_ospeed,
                state.exclusive);
  return text;
}

}  // namespace portflash::testing
