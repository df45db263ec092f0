#include "support/raw_line.h"

namespace portflash::testing {

bool SetRawLine(int fd, speed_t speed) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  cfsetspeed(&settings, speed);
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace portflash::testing
