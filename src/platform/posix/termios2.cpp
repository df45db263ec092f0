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

bool ApplyLineConfig(int fd, const SavedLineSettings& base, const LineConfig& config) {
  termios2 tio{};
  // Without a snapshot from the open, build on what the device holds now.
  if (!FromSaved(base, &tio) && ioctl(fd, TCGETS2, &tio) != 0) return false;

  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IUCLC | IXON | IXOFF | IXANY | IMAXBEL | INPCK);
  if (config.outX) tio.c_iflag |= IXON;
  if (config.inX) tio.c_iflag |= IXOFF;
  if (config.parity == Parity::Even && config.parityCheck) tio.c_iflag |= INPCK;

  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);

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

  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
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
