#pragma once
// The rate that the client last set on the line, read back through the pty's master.
// In a file of its own: <asm/termbits.h> clashes with <termios.h>.

namespace portflash::sim {

// Bits per second; false when the descriptor has no line settings.
bool ReadLineRate(int masterFd, unsigned* rate);

}  // namespace portflash::sim
