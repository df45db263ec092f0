#pragma once
// termios2 access for the POSIX serial platform. Kept apart because
// <asm/termbits.h>, which defines termios2, cannot share a file with <termios.h>.
#include <cstdint>

#include "engine/serial_platform.h"

namespace portflash::posix_serial {

bool ReadLineSettings(int fd, SavedLineSettings* out);
bool WriteLineSettings(int fd, const SavedLineSettings& settings);
// Raw mode with config's format, flow control and any rate (custom rates too).
bool ApplyLineConfig(int fd, const SavedLineSettings& base, const LineConfig& config);
// Raw at the device's present rate and format, before anything is configured.
bool MakeRaw(int fd);

// What a device (or a pty master) reports now, for checks and diagnostics.
struct LineState {
  std::uint32_t inputRate = 0;
  std::uint32_t outputRate = 0;
  unsigned dataBits = 0;
  bool parityEnabled = false;
  bool parityOdd = false;
  bool parityCheck = false;
  bool twoStopBits = false;
  bool hardwareFlow = false;  // CRTSCTS
  bool softwareFlow = false;  // any of IXON/IXOFF/IXANY
  unsigned inputFlags = 0;    // c_iflag as the device holds it
  bool raw = false;           // no canonical mode, echo, signals or output processing
  unsigned char vmin = 0;
  unsigned char vtime = 0;
};
bool ReadLineState(int fd, LineState* out);
bool DecodeLineState(const SavedLineSettings& settings, LineState* out);

}  // namespace portflash::posix_serial
