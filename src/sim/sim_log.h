#pragma once
// Progress lines on stderr, stamped with the seconds since start.
#include <chrono>
#include <string>

namespace portflash::sim {

class Logger {
 public:
  explicit Logger(bool quiet) : quiet_(quiet) {}
  void Line(const std::string& text) const;
  bool Quiet() const { return quiet_; }

 private:
  bool quiet_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// "0x5A"
std::string HexByte(unsigned byte);

}  // namespace portflash::sim
