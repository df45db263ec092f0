#include "sim/line_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace portflash::sim {

bool ReadLineRate(int masterFd, unsigned* rate) {
  struct termios2 settings {};
  if (ioctl(masterFd, TCGETS2, &settings) != 0) return false;
  // The kernel fills c_ospeed for the Bnnn rates as well as for BOTHER.
  *rate = settings.c_ospeed;
  return true;
}

}  // namespace portflash::sim
