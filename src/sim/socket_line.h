#pragma once
// The simulator's end of a QEMU serial device: a client of the device's socket
// (-chardev socket,...,server=on,telnet=on). Telnet framing: the negotiation QEMU
// sends on connecting is dropped, a 0xFF sent is doubled, a break is IAC BREAK.
// The guest's bytes arrive as they are. The line has no rate to read.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_log.h"
#include "sim/unit_line.h"

namespace portflash::sim {

class SocketLine final : public UnitLine {
 public:
  explicit SocketLine(const Logger& log) : log_(log) {}
  ~SocketLine() override { Close(); }
  SocketLine(const SocketLine&) = delete;
  SocketLine& operator=(const SocketLine&) = delete;

  // Connects to the socket at path, waiting up to waitMs for it to accept.
  bool Open(const std::string& path, int waitMs, std::string* error);

  const std::string& Name() const override { return path_; }
  int ReadFd() const override { return fd_; }
  long Read(std::uint8_t* buffer, std::size_t max) override;
  std::size_t Pending() const override;
  unsigned Rate() const override { return 0; }
  void Send(const std::vector<std::uint8_t>& bytes) override;
  bool SendBreak() override;
  void Linger(int maxMs) override;
  // QEMU sees the client go: a USB serial device on the socket is unplugged.
  void Close() override;

 private:
  bool WriteAll(const std::uint8_t* bytes, std::size_t count);

  const Logger& log_;
  int fd_ = -1;
  std::string path_;
  // QEMU's opening negotiation: IAC, a verb, an option, while it lasts.
  bool opening_ = true;
  std::vector<std::uint8_t> partial_;
  std::chrono::steady_clock::time_point lastWrite_{};
};

}  // namespace portflash::sim
