#include "platform/posix/termios2.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstring>

namespace portflash::posix_serial {
namespace {

static_assert(sizeof(termios2) <= sizeof(SavedLineSettings::bytes));

bool FromSaved(const SavedLineSettings& settings, termios2* tio) {
  if (settings.size != sizeof(termios2)) return false;
  std::memcpy(tio, settings.bytes.data(), sizeof(termios2));
  return true;
}

tcflag_t DataBitsFlag(std::uint8_t byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

// Raw: no echo, no canonical mode, no signals, no translation either way, reads
// that return at once. Every input flag is given: a byte with a parity or framing
// error and a line break are dropped (the terminal layer would otherwise hand each
// over as 0x00, the loader's success code).
void SetRawModes(termios2* tio, bool parityCheck, bool outX, bool inX) {
  tio->c_iflag = IGNBRK | IGNPAR;
  if (parityCheck) tio->c_iflag |= INPCK;
  if (outX) tio->c_iflag |= IXON;
  if (inX) tio->c_iflag |= IXOFF;
  tio->c_oflag = 0;
  tio->c_lflag = 0;
  tio->c_cc[VMIN] = 0;
  tio->c_cc[VTIME] = 0;
}

}  // namespace

bool ReadLineSettings(int fd, SavedLineSettings* out) {
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  *out = SavedLineSettings{};
  std::memcpy(out->bytes.data(), &tio, sizeof tio);
  out->size = sizeof tio;
  return true;
}

bool WriteLineSettings(int fd, const SavedLineSettings& settings) {
  termios2 tio{};
  if (!FromSaved(settings, &tio)) return false;
  return ioctl(fd, TCSETS2, &tio) == 0;
}

bool MakeRaw(int fd) {
  termios2 tio{};
  if (ioctl(fd, TCGETS2, &tio) != 0) return false;
  SetRawModes(&tio, false, false, false);
  // Modem status lines are not to hang the line up before it is configured either.
  tio.c_cflag |= CREAD | CLOCAL;
  return ioctl(fd, TCSETS2, &tio) == 0;
}

bool ApplyLineConfig(int fd, const SavedLineSettings& base, const LineConfig& config) {
  termios2 tio{};
  // Without a snapshot from the open, build on what the device holds now.
  if (!FromSaved(base, &tio) && ioctl(fd, TCGETS2, &tio) != 0) return false;

  SetRawModes(&tio, config.parity == Parity::Even && config.parityCheck, config.outX, config.inX);

  tio.c_cflag &=
      ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | CIBAUD);
  tio.c_cflag |= DataBitsFlag(config.byteSize) | CREAD | CLOCAL;
  if (config.parity == Parity::Even) tio.c_cflag |= PARENB;
  if (config.stopBits != 0) tio.c_cflag |= CSTOPB;
  if (config.outxCtsFlow) tio.c_cflag |= CRTSCTS;
  // BOTHER takes the rate from c_ispeed/c_ospeed, so 56000, 128000 and 256000
  // work as well as the rates that have a Bnnn constant.
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = config.baudRate;
  tio.c_ospeed = config.baudRate;
  return ioctl(fd, TCSETS2, &tio) == 0;
}

bool DecodeLineState(const SavedLineSettings& settings, LineState* out) {
  termios2 tio{};
  if (!FromSaved(settings, &tio)) return false;
  LineState state;
  state.inputRate = tio.c_ispeed;
  state.outputRate = tio.c_ospeed;
  switch (tio.c_cflag & CSIZE) {
    case CS5:
      state.dataBits = 5;
      break;
    case CS6:
      state.dataBits = 6;
      break;
    case CS7:
      state.dataBits = 7;
      break;
    default:
      state.dataBits = 8;
      break;
  }
  state.parityEnabled = (tio.c_cflag & PARENB) != 0;
  state.parityOdd = (tio.c_cflag & PARODD) != 0;
  state.parityCheck = (tio.c_iflag & INPCK) != 0;
  state.twoStopBits = (tio.c_cflag & CSTOPB) != 0;
  state.hardwareFlow = (tio.c_cflag & CRTSCTS) != 0;
  state.softwareFlow = (tio.c_iflag & (IXON | IXOFF | IXANY)) != 0;
  state.inputFlags = tio.c_iflag;
  state.raw = (tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 && (tio.c_oflag & OPOST) == 0 &&
              (tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP)) == 0;
  state.vmin = tio.c_cc[VMIN];
  state.vtime = tio.c_cc[VTIME];
  *out = state;
  return true;
}

bool ReadLineState(int fd, LineState* out) {
  SavedLineSettings settings;
  return ReadLineSettings(fd, &settings) && DecodeLineState(settings, out);
}

}  // namespace portflash::posix_serial
