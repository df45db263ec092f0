#pragma once
// The simulator's end of the line, whatever carries it: a pseudo-terminal whose
// slave the PC opens, or a QEMU serial device's socket.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace portflash::sim {

class UnitLine {
 public:
  virtual ~UnitLine() = default;

  // What to tell the user: the device the PC opens, or the socket served.
  virtual const std::string& Name() const = 0;
  // Watched for the PC's bytes.
  virtual int ReadFd() const = 0;
  // Watched for TakeClientEvents; -1 when the line has none.
  virtual int WatchFd() const { return -1; }
  // True when a client opened the line while no other had it open.
  virtual bool TakeClientEvents() { return false; }
  // Up to max bytes without blocking: the count, 0 when none is there, -1 when the
  // line is gone.
  virtual long Read(std::uint8_t* buffer, std::size_t max) = 0;
  // Bytes waiting to be read.
  virtual std::size_t Pending() const = 0;
  // The rate the PC set; 0 when the line cannot tell.
  virtual unsigned Rate() const = 0;
  virtual void Send(const std::vector<std::uint8_t>& bytes) = 0;
  // A line break; false where the line cannot carry one.
  virtual bool SendBreak() = 0;
  // Waits (at most maxMs) until the PC has what was sent.
  virtual void Linger(int maxMs) = 0;
  // The PC sees a hang-up.
  virtual void Close() = 0;
};

}  // namespace portflash::sim
