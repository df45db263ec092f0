#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace portflash {

enum class Parity : std::uint8_t { None = 0, Even = 2 };
enum class DtrControl : std::uint8_t { Disable = 0, Enable = 1, Handshake = 2 };
enum class RtsControl : std::uint8_t { Disable = 0, Enable = 1, Handshake = 2, Toggle = 3 };

// The line as the cable tables describe it. The platform maps what it can onto
// the device; the link itself does the modem-line parts the platform lacks.
struct LineConfig {
  std::uint32_t baudRate = 9600;
  std::uint8_t byteSize = 8;
  std::uint8_t stopBits = 0;  // 0: one stop bit
  Parity parity = Parity::None;
  bool parityCheck = false;
  bool binary = true;
  bool outX = false;  // XON/XOFF on output
  bool inX = false;   // XON/XOFF on input
  bool nullStrip = false;
  bool outxDsrFlow = false;
  DtrControl dtrControl = DtrControl::Disable;
  RtsControl rtsControl = RtsControl::Disable;
  bool outxCtsFlow = false;
  bool operator==(const LineConfig&) const = default;
};

// A device's settings exactly as the platform read them; restored verbatim.
struct SavedLineSettings {
  std::array<unsigned char, 128> bytes{};
  std::size_t size = 0;
  bool operator==(const SavedLineSettings&) const = default;
};

// Modem-line bits for GetModemLines/SetModemLines.
inline constexpr unsigned kModemDtr = 1u << 0;
inline constexpr unsigned kModemRts = 1u << 1;
inline constexpr unsigned kModemDsr = 1u << 2;
inline constexpr unsigned kModemCts = 1u << 3;

enum class OpenError { None, NotFound, Busy, PermissionDenied, NotSerial, Other };

struct OpenFailure {
  OpenError kind = OpenError::None;
  int error = 0;       // errno
  std::string detail;  // what the system said, for the user
};

enum class IoStatus { Ok, WouldBlock, HangUp, Error };

// What the system opens: a descriptor on POSIX, a HANDLE on Windows.
using SerialHandle = std::intptr_t;
inline constexpr SerialHandle kNoSerialHandle = -1;

// The operating system's serial interface, one handle per open device.
class SerialPlatform {
 public:
  virtual ~SerialPlatform() = default;
  // Opens the device exclusively and non-blocking, raw (no echo, no translation,
  // reads that return at once); kNoSerialHandle on failure with the reason.
  virtual SerialHandle Open(const std::string& devicePath, OpenFailure* why) = 0;
  virtual void Close(SerialHandle port) = 0;
  // The settings to put back at the close: those the device had before Open.
  virtual bool GetSettings(SerialHandle port, SavedLineSettings* out) = 0;
  virtual bool SetSettings(SerialHandle port, const SavedLineSettings& settings) = 0;
  // Applies config on top of base (the fields config does not name keep base's values).
  virtual bool Configure(SerialHandle port, const SavedLineSettings& base,
                         const LineConfig& config) = 0;
  // False when the device has no modem lines (a pseudo-terminal).
  virtual bool GetModemLines(SerialHandle port, unsigned* bits) = 0;
  virtual bool SetModemLines(SerialHandle port, unsigned on, unsigned off) = 0;
  // Never blocks: Ok with a byte, WouldBlock when nothing is there.
  virtual IoStatus ReadByte(SerialHandle port, std::uint8_t* byte) = 0;
  // Writes what the driver takes now (possibly 0 bytes: WouldBlock).
  virtual IoStatus Write(SerialHandle port, const std::uint8_t* data, std::size_t length,
                         std::size_t* written) = 0;
  // Wait at most timeoutMs for the device to become readable (or writable).
  // True when it did before the time ran out (a hang-up counts as readable).
  virtual bool WaitReadable(SerialHandle port, int timeoutMs) = 0;
  virtual bool WaitWritable(SerialHandle port, int timeoutMs) = 0;
  // Wait until every byte written has left the device.
  virtual void Drain(SerialHandle port) = 0;
  // Bytes written that the driver still holds; false when the device cannot say.
  virtual bool OutputQueued(SerialHandle port, std::size_t* bytes) = 0;
  // Throw away what the driver holds, unsent or unread.
  virtual void DiscardOutput(SerialHandle port) = 0;
  virtual void DiscardInput(SerialHandle port) = 0;
};

SerialPlatform& GetSerialPlatform();
void SetSerialPlatform(SerialPlatform* platform);  // null puts the system's platform back

}  // namespace portflash
