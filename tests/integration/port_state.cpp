#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "port_state.h"

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
  }
  ::close(fd);
  return state;
}

}  // namespace portflash::testing
