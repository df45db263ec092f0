#pragma once
// The simulator's end of the line: a pseudo-terminal whose slave the PC opens.
// The simulator keeps a slave descriptor of its own, so that the master never reads
// EIO between clients, and watches the slave's opens and closes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/boot_monitor.h"
#include "sim/sim_log.h"

namespace portflash::sim {

class PtyLine final : public UnitLine {
 public:
  explicit PtyLine(const Logger& log) : log_(log) {}
  ~PtyLine() override { Close(); }
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  bool Open(std::string* error);
  // A symbolic link to the device, removed again by Close.
  bool Link(const std::string& linkPath, std::string* error);
  const std::string& DevicePath() const { return path_; }
  int MasterFd() const { return master_; }
  int WatchFd() const { return watch_; }  // -1 when the opens cannot be watched

  // Takes the pending open/close events; true when a client opened the line while
  // no other client had it open.
  bool TakeClientEvents();
  // Up to max bytes without blocking: the count, 0 when none is there, -1 on failure.
  long Read(std::uint8_t* buffer, std::size_t max);
  // Bytes waiting to be read.
  std::size_t Pending() const;
  // The rate the client set; 0 if it cannot be read.
  unsigned Rate() const;
  void Send(const std::vector<std::uint8_t>& bytes) override;
  // Closing the master drops what the client has not read yet: wait (at most
  // maxMs) until it has read everything or closed the line.
  void Linger(int maxMs);
  // Clients see a hang-up: reads return 0, writes fail with EIO.
  void Close();

 private:
  const Logger& log_;
  int master_ = -1;
  int slave_ = -1;
  int watch_ = -1;
  int clients_ = 0;
  std::string path_;
  std::string link_;
};

}  // namespace portflash::sim
