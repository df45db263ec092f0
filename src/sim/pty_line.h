#pragma once
// The simulator's end of the line: a pseudo-terminal whose slave the PC opens.
// The simulator keeps a slave descriptor of its own, so that the master never reads
// EIO between clients, and watches the slave's opens and closes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_log.h"
#include "sim/unit_line.h"

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

  const std::string& Name() const override { return path_; }
  int ReadFd() const override { return master_; }
  int WatchFd() const override { return watch_; }  // -1 when the opens cannot be watched
  bool TakeClientEvents() override;
  long Read(std::uint8_t* buffer, std::size_t max) override;
  std::size_t Pending() const override;
  unsigned Rate() const override;
  void Send(const std::vector<std::uint8_t>& bytes) override;
  // A pseudo-terminal carries no breaks.
  bool SendBreak() override { return false; }
  // Closing the master drops what the client has not read yet: wait until it has
  // read everything or closed the line.
  void Linger(int maxMs) override;
  // Clients see a hang-up: reads return 0, writes fail with EIO.
  void Close() override;

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
