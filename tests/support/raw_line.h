#pragma once
// The PC's end of a simulator's line, set up by hand (not through the engine).
#include <termios.h>

namespace portflash::testing {

// Raw, 8 data bits, at `speed`. No parity: the pty drops it, and the C library's
// tcsetattr, reading back a parity other than it asked for, then fails with EINVAL.
bool SetRawLine(int fd, speed_t speed);

}  // namespace portflash::testing
